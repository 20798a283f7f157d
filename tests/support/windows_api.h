// The Windows API for tests that drive the Win32 port's windows directly.
// The system's MulDiv (C linkage) would clash with the framework's own.
#pragma once

#ifdef _WIN32
// clang-format off
#define MulDiv SystemMulDiv
#include <windows.h>
#undef MulDiv
// clang-format on
#endif
