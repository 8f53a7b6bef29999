// The system's message text for an error code, for diagnostic lines and message
// boxes. The text keeps the system's line end ("\r\n"); a code without a message
// gives an empty string.
#pragma once

#include "util/NString.h"

CNString SystemErrorText(unsigned long code);
