// The sockets platform layer: the Windows Sockets 2 entry points that the stack
// uses, one interface over two implementations picked by the build:
// IdWinSock2Windows.cpp calls the real WS2_32.DLL, loaded by the first
// WSAStartup, each entry looked up on its first call; IdWinSock2Posix.cpp
// imitates it over the BSD sockets of Linux.
//
// This is the only unit that calls the operating system's socket functions.
// Every entry keeps the Windows contract the transport was written against:
// results are returned unchanged (-1 on failure, or INVALID_SOCKET), the error
// of a failed call is a Windows Sockets number kept per thread for
// WSAGetLastError (on Linux: errno -> 100xx, an unknown host -> 11001), and
// option levels, option names and flags are given in their Windows numbering.
//
// Life of the library: until WSAStartup has been called in the process the
// library is not loaded and every entry raises EIdWS2StubError ("Error on call
// Winsock2 library function <name>", code 10093). After WSAStartup the entries
// work; after as many WSACleanup calls as start-ups they fail with 10093
// (WSANOTINITIALISED). At program end, after every static object of the
// program is gone, the library is unloaded once.
//
// Thread-safety: every entry may be called from any thread. The last error is
// per thread. Start-up, clean-up and unloading use atomics only.
#pragma once

// The platform's own types and error numbers: TSocket, INVALID_SOCKET,
// SOCKET_ERROR, TSockAddrIn, in_addr, TWSAData, TFdSet, TTimeVal and the
// WSAE... numbers.
#if defined(_WIN32)
#include "transport/IdWinSock2Windows.h"
#else
#include "transport/IdWinSock2Posix.h"
#endif

#include <cstdint>
#include <string>
#include <vector>

static_assert(sizeof(TSockAddrIn) == 16);

// The capacity of a descriptor set of the readiness wait.
constexpr int FD_SETSIZE_WS = 64;

// Windows numbering of families, socket types, option levels and names, flags.
constexpr int AF_INET_WS = 2;
constexpr int SOCK_STREAM_WS = 1;
constexpr int SOCK_DGRAM_WS = 2;
constexpr int SOL_SOCKET_WS = 0xFFFF;
constexpr int SO_DEBUG_WS = 0x0001;
constexpr int SO_ACCEPTCONN_WS = 0x0002;
constexpr int SO_REUSEADDR_WS = 0x0004;
constexpr int SO_EXCLUSIVEADDRUSE_WS = ~SO_REUSEADDR_WS;
constexpr int SO_KEEPALIVE_WS = 0x0008;
constexpr int SO_DONTROUTE_WS = 0x0010;
constexpr int SO_BROADCAST_WS = 0x0020;
constexpr int SO_LINGER_WS = 0x0080;
constexpr int SO_OOBINLINE_WS = 0x0100;
constexpr int SO_SNDBUF_WS = 0x1001;
constexpr int SO_RCVBUF_WS = 0x1002;
constexpr int SO_SNDTIMEO_WS = 0x1005;
constexpr int SO_RCVTIMEO_WS = 0x1006;
constexpr int SO_ERROR_WS = 0x1007;
constexpr int SO_TYPE_WS = 0x1008;
constexpr int IPPROTO_IP_WS = 0;
constexpr int IP_TOS_WS = 3;
constexpr int IP_TTL_WS = 4;
constexpr int IP_MULTICAST_TTL_WS = 10;
constexpr int IP_MULTICAST_LOOP_WS = 11;
constexpr int IPPROTO_TCP_WS = 6;
constexpr int TCP_NODELAY_WS = 0x0001;
constexpr int MSG_OOB_WS = 0x1;
constexpr int MSG_PEEK_WS = 0x2;
constexpr int MSG_DONTROUTE_WS = 0x4;
constexpr int MSG_WAITALL_WS = 0x8;

// The platform's text for a system error code: the text of a Windows Sockets
// number, or of a system error number below 10000. No trailing full stop.
std::string WinSockSystemErrorText(std::uint32_t code);

// Windows' documented text for the library's own numbers, which no other
// system error reports (10092, 10093, 10107); empty for any other code.
std::string WinSockDocumentedText(std::uint32_t code);

// True once WSAStartup has run in this process and until the program ends.
bool WinSockLoaded();

// Unloads the library: later calls raise EIdWS2StubError again. Runs by itself
// once at program end; a second call does nothing.
void WinSockUnload();

namespace ws2 {

// Starts the library for the caller; returns 0, or WSAVERNOTSUPPORTED when the
// requested major version is 0. The first call in the process loads it.
int WSAStartup(std::uint16_t version, TWSAData* data);
// Balances one WSAStartup; SOCKET_ERROR with WSANOTINITIALISED when none is left.
int WSACleanup();
int WSAGetLastError();
void WSASetLastError(int code);

TSocket socket(int family, int type, int protocol);
int closesocket(TSocket s);
int shutdown(TSocket s, int how);
int bind(TSocket s, const TSockAddrIn* address, int length);
int connect(TSocket s, const TSockAddrIn* address, int length);
int listen(TSocket s, int backlog);
TSocket accept(TSocket s, TSockAddrIn* address, int* length);
int getsockname(TSocket s, TSockAddrIn* address, int* length);
int getpeername(TSocket s, TSockAddrIn* address, int* length);
int setsockopt(TSocket s, int level, int name, const void* value, int length);
int getsockopt(TSocket s, int level, int name, void* value, int* length);
int send(TSocket s, const void* buffer, int length, int flags);
int sendto(TSocket s, const void* buffer, int length, int flags, const TSockAddrIn* to,
           int to_length);
// A datagram longer than the buffer fills the buffer and fails with WSAEMSGSIZE.
int recv(TSocket s, void* buffer, int length, int flags);
int recvfrom(TSocket s, void* buffer, int length, int flags, TSockAddrIn* from, int* from_length);
// Readiness wait over up to three sets; a null timeout waits without limit.
// Each set is rewritten to the handles that are ready; the result counts them.
// nfds is ignored, as on Windows.
int select(int nfds, TFdSet* read_set, TFdSet* write_set, TFdSet* error_set,
           const TTimeVal* timeout);

// Name look-ups, with the answers copied out of the hostent/servent records
// (Linux looks up with the reentrant calls instead). Each returns 0, or
// SOCKET_ERROR with the reason in WSAGetLastError.
//
// The IPv4 addresses of a host name, in the resolver's order. An empty name
// means this machine, as on Windows.
int gethostbyname(const std::string& name, std::vector<in_addr>* addresses);
// The official name of an IPv4 address.
int gethostbyaddr(in_addr address, std::string* name);
int gethostname(char* name, int length);
// Service entries for any protocol: port in host order, names official first.
int getservbyname(const std::string& name, int* port);
int getservbyport(int port, std::vector<std::string>* names);

// inet_addr's reading of a dotted text: INADDR_NONE when it does not read.
std::uint32_t inet_addr(const std::string& text);

// Wake events: a manual-reset event that the readiness wait can watch like a
// socket. It is a descriptor, given to select in a read set, and reads as
// ready while it is set; so a thread blocked in select can be woken without
// touching the sockets it waits on (an eventfd on Linux; on Windows, whose
// event objects select cannot watch, a loopback datagram socket that sends
// itself a byte). Each returns SOCKET_ERROR (INVALID_SOCKET for the
// creation) with the reason in WSAGetLastError.
TSocket CreateWakeEvent();
// Setting a set event, or resetting a reset one, does nothing more.
int SetWakeEvent(TSocket event);
int ResetWakeEvent(TSocket event);
int CloseWakeEvent(TSocket event);

}  // namespace ws2
