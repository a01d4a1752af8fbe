// The Windows and OLE headers, once.
#pragma once

#include "platform/win32.h"

#include <ole2.h>
#include <oleauto.h>
#include <olectl.h>

