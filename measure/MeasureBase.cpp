#include "measure/MeasureBase.h"
