// The Windows and OLE headers, once, with the A/W macros that clash with the core's
// member names (Platform::MessageBox, ...) removed.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
#include <olectl.h>

#undef MessageBox
#undef GetEnvironmentVariable
#undef ReplaceFile
