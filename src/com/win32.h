// The Windows and OLE headers, once, without the A/W macros that clash with the
// core's member names.
#pragma once

#include "platform/win32.h"

#include <ole2.h>
#include <oleauto.h>
#include <olectl.h>

