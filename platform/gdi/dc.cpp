#include "platform/gdi/dc.h"
