// IdWinSock2 on Windows: the system's own Windows Sockets types and error
// numbers. Included through IdWinSock2.h only.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
// The system's MulDiv (C linkage) would clash with the window framework's own
// in a file that includes both; the transport never calls it.
#define MulDiv SystemMulDiv
#include <winsock2.h>
#undef MulDiv

#include <cstdint>

// A socket handle: a 32-bit value, -1 for none. The system's SOCKET is as wide
// as a pointer, but its values fit 32 bits (handles are shared with 32-bit
// processes); the entries convert.
using TSocket = std::int32_t;

// The system's INVALID_SOCKET is the pointer-wide ~0; the transport's handles
// are 32-bit, so its INVALID_SOCKET is -1 of that width.
#undef INVALID_SOCKET
constexpr TSocket INVALID_SOCKET = -1;

// The IPv4 address record.
using TSockAddrIn = sockaddr_in;

// The start-up data record. Filled by WSAStartup; nothing reads it.
using TWSAData = WSADATA;

// A descriptor set of the readiness wait: the system's fd_set of 64 handles,
// made empty.
static_assert(FD_SETSIZE == 64);
struct TFdSet : fd_set {
  TFdSet() { fd_count = 0; }
};

// The time limit of the readiness wait, zero until set.
struct TTimeVal : timeval {
  TTimeVal() : timeval{0, 0} {}
};
