// <windows.h>, with the A/W macros that clash with the core's member names
// (Platform::MessageBox, ...) removed. Include this instead of <windows.h>.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#undef MessageBox
#undef GetEnvironmentVariable
#undef ReplaceFile
