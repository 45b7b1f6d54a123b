#pragma once
// Why a file could not be written, in the operator's language: the reason part of the messages
// that name a file or folder and say why it was not saved.
#include "platform/text.h"

// The reason for an errno value ("the disk is full", "the folder is read-only", ...); 0 gives the
// text for a failure whose reason is not known.
WString FileErrorText(int error);
