// IdWinSock2 on Windows: the real Windows Sockets 2. WS2_32.DLL is loaded by
// the first WSAStartup; each entry point is looked up by name on its first
// call and called directly afterwards. Results, error numbers and the
// per-thread last error are the system's own.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

#include "framework/core/SyncObjs.h"
#include "framework/core/SysUtils.h"
#include "transport/IdException.h"
#include "transport/IdWinSock2.h"

namespace {

constexpr const char* kLibraryName = "WS2_32.DLL";

// The entries this layer calls, in the order of kEntryNames.
enum Entry {
  kWSACleanup,
  kWSAGetLastError,
  kWSASetLastError,
  kSocket,
  kCloseSocket,
  kShutdown,
  kBind,
  kConnect,
  kListen,
  kAccept,
  kGetSockName,
  kGetPeerName,
  kSetSockOpt,
  kGetSockOpt,
  kSend,
  kSendTo,
  kRecv,
  kRecvFrom,
  kSelect,
  kGetHostByName,
  kGetHostByAddr,
  kGetHostName,
  kGetServByName,
  kGetServByPort,
  kInetAddr,
  kIoctlSocket,
  kEntryCount
};

constexpr const char* kEntryNames[kEntryCount] = {"WSACleanup",
                                                  "WSAGetLastError",
                                                  "WSASetLastError",
                                                  "socket",
                                                  "closesocket",
                                                  "shutdown",
                                                  "bind",
                                                  "connect",
                                                  "listen",
                                                  "accept",
                                                  "getsockname",
                                                  "getpeername",
                                                  "setsockopt",
                                                  "getsockopt",
                                                  "send",
                                                  "sendto",
                                                  "recv",
                                                  "recvfrom",
                                                  "select",
                                                  "gethostbyname",
                                                  "gethostbyaddr",
                                                  "gethostname",
                                                  "getservbyname",
                                                  "getservbyport",
                                                  "inet_addr",
                                                  "ioctlsocket"};

// The library handle, null while it is not loaded, and each entry's resolved
// address, null until its first call. Two threads that make the first call
// of an entry at once both look it up and store the same address.
std::atomic<HMODULE> g_library{nullptr};
std::atomic<FARPROC> g_targets[kEntryCount];
std::mutex g_startup_mutex;  // serialises loading and unloading

// The wake events that are open, each with whether it may be set: marked
// before its byte is sent and cleared before its bytes are taken, so that a
// clear mark is never wrong for long. Kept here, so that a readiness check
// needs no system call for them. Never destroyed: a listener may close its
// event while the program's static objects go.
struct WakeEventMark {
  TSocket event;
  bool may_be_set;
};
TCriticalSection& g_wake_events_lock = *new TCriticalSection;
// Guarded by g_wake_events_lock.
std::vector<WakeEventMark>& g_wake_events = *new std::vector<WakeEventMark>;

// REQUIRES: g_wake_events_lock held.
std::vector<WakeEventMark>::iterator FindWakeEvent(TSocket event) {
  return std::find_if(g_wake_events.begin(), g_wake_events.end(),
                      [event](const WakeEventMark& mark) { return mark.event == event; });
}

void MarkWakeEvent(TSocket event, bool may_be_set) {
  std::lock_guard<TCriticalSection> lock(g_wake_events_lock);
  auto mark = FindWakeEvent(event);
  if (mark != g_wake_events.end()) mark->may_be_set = may_be_set;
}

// The entry's function, looked up on its first call. Raises EIdWS2StubError
// while the library is not loaded.
template <typename Function>
Function Target(Entry entry) {
  FARPROC target = g_targets[entry].load(std::memory_order_acquire);
  if (target == nullptr) {
    HMODULE library = g_library.load(std::memory_order_acquire);
    if (library == nullptr) {
      throw EIdWS2StubError(
          Format("Error on call Winsock2 library function %s", kEntryNames[entry]),
          WSANOTINITIALISED);
    }
    target = GetProcAddress(library, kEntryNames[entry]);
    if (target == nullptr) {
      throw EIdWS2StubError(
          Format("Error on call Winsock2 library function %s", kEntryNames[entry]), GetLastError());
    }
    g_targets[entry].store(target, std::memory_order_release);
  }
  return reinterpret_cast<Function>(reinterpret_cast<void*>(target));
}

SOCKET Native(TSocket s) {
  // -1 widens to the system's INVALID_SOCKET.
  return static_cast<SOCKET>(static_cast<std::intptr_t>(s));
}

int Fail(int code) {
  Target<void(WSAAPI*)(int)>(kWSASetLastError)(code);
  return SOCKET_ERROR;
}

// Unloads after every static destructor of the program has run, so that units
// that still close or wait on sockets while they shut down find the library
// in place.
__attribute__((destructor(200))) void UnloadAtProgramEnd() {
  WinSockUnload();
}

// ioctlsocket(FIONREAD): the bytes queued for reading (on a datagram socket,
// all its datagrams' together: 0 when only empty datagrams wait, or none).
int QueuedBytes(TSocket s, std::uint32_t* bytes) {
  u_long count = 0;
  const int result =
      Target<int(WSAAPI*)(SOCKET, long, u_long*)>(kIoctlSocket)(Native(s), FIONREAD, &count);
  *bytes = static_cast<std::uint32_t>(count);
  return result;
}

// Whether s is an open wake event that is surely reset: not set since it was
// made or last reset.
bool IsResetWakeEvent(TSocket s) {
  std::lock_guard<TCriticalSection> lock(g_wake_events_lock);
  auto mark = FindWakeEvent(s);
  return mark != g_wake_events.end() && !mark->may_be_set;
}

// select for reading alone, answered without the system when every handle's
// state is known at once: a socket with bytes queued is ready, a wake event
// that was not set since its last reset is not. Under Wine the system's select
// costs two Wine server round trips even when a socket is ready (the poll and
// the wait), FIONREAD one and the wake event's mark none; a listener under a
// flood finds its socket ready at every cycle. Returns the number of ready
// handles, with only those left in the set in their order; 0, with the set
// unchanged, when the system has to wait or tell: nothing is ready yet, or a
// handle has nothing queued that counts (an empty datagram, an error, a
// closed socket, a wake event that may be set).
int ReadyWithoutWaiting(TFdSet* read_set) {
  std::uint64_t ready_mask = 0;
  for (std::uint32_t i = 0; i < read_set->fd_count; ++i) {
    const TSocket handle = static_cast<TSocket>(read_set->fd_array[i]);
    if (IsResetWakeEvent(handle)) continue;
    std::uint32_t bytes = 0;
    if (QueuedBytes(handle, &bytes) != 0 || bytes == 0) return 0;
    ready_mask |= std::uint64_t{1} << i;
  }
  if (ready_mask == 0) return 0;
  std::uint32_t kept = 0;
  for (std::uint32_t i = 0; i < read_set->fd_count; ++i) {
    if ((ready_mask >> i & 1) != 0) read_set->fd_array[kept++] = read_set->fd_array[i];
  }
  read_set->fd_count = kept;
  return static_cast<int>(kept);
}

}  // namespace

std::string WinSockSystemErrorText(std::uint32_t code) {
  std::string text = SystemErrorText(static_cast<int>(code));
  // Wine's message table lacks the library's own numbers.
  return text.empty() ? WinSockDocumentedText(code) : text;
}

bool WinSockLoaded() {
  return g_library.load(std::memory_order_acquire) != nullptr;
}

void WinSockUnload() {
  std::lock_guard<std::mutex> lock(g_startup_mutex);
  HMODULE library = g_library.exchange(nullptr, std::memory_order_acq_rel);
  if (library == nullptr) return;
  FreeLibrary(library);
  for (std::atomic<FARPROC>& target : g_targets) target.store(nullptr, std::memory_order_release);
}

namespace ws2 {

int WSAStartup(std::uint16_t version, TWSAData* data) {
  std::lock_guard<std::mutex> lock(g_startup_mutex);
  HMODULE library = g_library.load(std::memory_order_acquire);
  if (library == nullptr) {
    library = LoadLibraryA(kLibraryName);
    if (library == nullptr) {
      throw EIdWS2StubError(Format("Error on loading Winsock2 library (%s)", kLibraryName),
                            GetLastError());
    }
    g_library.store(library, std::memory_order_release);
  }
  using StartUp = int(WSAAPI*)(WORD, LPWSADATA);
  auto start_up =
      reinterpret_cast<StartUp>(reinterpret_cast<void*>(GetProcAddress(library, "WSAStartup")));
  if (start_up == nullptr) {
    throw EIdWS2StubError("Error on call Winsock2 library function WSAStartup", GetLastError());
  }
  return start_up(version, data);
}

int WSACleanup() {
  return Target<int(WSAAPI*)()>(kWSACleanup)();
}

int WSAGetLastError() {
  return Target<int(WSAAPI*)()>(kWSAGetLastError)();
}

void WSASetLastError(int code) {
  Target<void(WSAAPI*)(int)>(kWSASetLastError)(code);
}

TSocket socket(int family, int type, int protocol) {
  SOCKET s = Target<SOCKET(WSAAPI*)(int, int, int)>(kSocket)(family, type, protocol);
  // The handle is not inherited by programs that this one starts.
  if (s != ~SOCKET{0}) SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  return static_cast<TSocket>(s);
}

int closesocket(TSocket s) {
  return Target<int(WSAAPI*)(SOCKET)>(kCloseSocket)(Native(s));
}

int shutdown(TSocket s, int how) {
  return Target<int(WSAAPI*)(SOCKET, int)>(kShutdown)(Native(s), how);
}

int bind(TSocket s, const TSockAddrIn* address, int length) {
  return Target<int(WSAAPI*)(SOCKET, const sockaddr*, int)>(kBind)(
      Native(s), reinterpret_cast<const sockaddr*>(address), length);
}

int connect(TSocket s, const TSockAddrIn* address, int length) {
  return Target<int(WSAAPI*)(SOCKET, const sockaddr*, int)>(kConnect)(
      Native(s), reinterpret_cast<const sockaddr*>(address), length);
}

int listen(TSocket s, int backlog) {
  return Target<int(WSAAPI*)(SOCKET, int)>(kListen)(Native(s), backlog);
}

TSocket accept(TSocket s, TSockAddrIn* address, int* length) {
  return static_cast<TSocket>(Target<SOCKET(WSAAPI*)(SOCKET, sockaddr*, int*)>(kAccept)(
      Native(s), reinterpret_cast<sockaddr*>(address), length));
}

int getsockname(TSocket s, TSockAddrIn* address, int* length) {
  return Target<int(WSAAPI*)(SOCKET, sockaddr*, int*)>(kGetSockName)(
      Native(s), reinterpret_cast<sockaddr*>(address), length);
}

int getpeername(TSocket s, TSockAddrIn* address, int* length) {
  return Target<int(WSAAPI*)(SOCKET, sockaddr*, int*)>(kGetPeerName)(
      Native(s), reinterpret_cast<sockaddr*>(address), length);
}

int setsockopt(TSocket s, int level, int name, const void* value, int length) {
  return Target<int(WSAAPI*)(SOCKET, int, int, const char*, int)>(kSetSockOpt)(
      Native(s), level, name, static_cast<const char*>(value), length);
}

int getsockopt(TSocket s, int level, int name, void* value, int* length) {
  return Target<int(WSAAPI*)(SOCKET, int, int, char*, int*)>(kGetSockOpt)(
      Native(s), level, name, static_cast<char*>(value), length);
}

int send(TSocket s, const void* buffer, int length, int flags) {
  return Target<int(WSAAPI*)(SOCKET, const char*, int, int)>(kSend)(
      Native(s), static_cast<const char*>(buffer), length, flags);
}

int sendto(TSocket s, const void* buffer, int length, int flags, const TSockAddrIn* to,
           int to_length) {
  return Target<int(WSAAPI*)(SOCKET, const char*, int, int, const sockaddr*, int)>(kSendTo)(
      Native(s), static_cast<const char*>(buffer), length, flags,
      reinterpret_cast<const sockaddr*>(to), to_length);
}

int recv(TSocket s, void* buffer, int length, int flags) {
  return Target<int(WSAAPI*)(SOCKET, char*, int, int)>(kRecv)(Native(s), static_cast<char*>(buffer),
                                                              length, flags);
}

int recvfrom(TSocket s, void* buffer, int length, int flags, TSockAddrIn* from, int* from_length) {
  return Target<int(WSAAPI*)(SOCKET, char*, int, int, sockaddr*, int*)>(kRecvFrom)(
      Native(s), static_cast<char*>(buffer), length, flags, reinterpret_cast<sockaddr*>(from),
      from_length);
}

int select(int nfds, TFdSet* read_set, TFdSet* write_set, TFdSet* error_set,
           const TTimeVal* timeout) {
  if (read_set != nullptr && write_set == nullptr && error_set == nullptr &&
      read_set->fd_count <= FD_SETSIZE) {
    if (const int ready = ReadyWithoutWaiting(read_set); ready > 0) return ready;
  }
  return Target<int(WSAAPI*)(int, fd_set*, fd_set*, fd_set*, const timeval*)>(kSelect)(
      nfds, read_set, write_set, error_set, timeout);
}

int gethostbyname(const std::string& name, std::vector<in_addr>* addresses) {
  auto lookup = Target<hostent*(WSAAPI*)(const char*)>(kGetHostByName);
  addresses->clear();
  // A counted name with a NUL inside is no name: the look-up would see only
  // the part before it.
  if (name.find('\0') != std::string::npos) return Fail(WSAHOST_NOT_FOUND);
  const hostent* answer = lookup(name.c_str());
  if (answer == nullptr) return SOCKET_ERROR;
  if (answer->h_addrtype != AF_INET || answer->h_length != 4) return Fail(WSANO_DATA);
  for (char** entry = answer->h_addr_list; *entry != nullptr; ++entry) {
    in_addr address;
    std::memcpy(&address, *entry, sizeof address);
    addresses->push_back(address);
  }
  if (addresses->empty()) return Fail(WSANO_DATA);
  return 0;
}

int gethostbyaddr(in_addr address, std::string* name) {
  const hostent* answer = Target<hostent*(WSAAPI*)(const char*, int, int)>(kGetHostByAddr)(
      reinterpret_cast<const char*>(&address), sizeof address, AF_INET);
  if (answer == nullptr) return SOCKET_ERROR;
  *name = answer->h_name;
  return 0;
}

int gethostname(char* name, int length) {
  return Target<int(WSAAPI*)(char*, int)>(kGetHostName)(name, length);
}

int getservbyname(const std::string& name, int* port) {
  auto lookup = Target<servent*(WSAAPI*)(const char*, const char*)>(kGetServByName);
  if (name.find('\0') != std::string::npos) return Fail(WSANO_DATA);
  const servent* entry = lookup(name.c_str(), nullptr);
  if (entry == nullptr) return SOCKET_ERROR;
  *port = ntohs(static_cast<std::uint16_t>(entry->s_port));
  return 0;
}

int getservbyport(int port, std::vector<std::string>* names) {
  names->clear();
  const servent* entry = Target<servent*(WSAAPI*)(int, const char*)>(kGetServByPort)(
      htons(static_cast<std::uint16_t>(port)), nullptr);
  if (entry == nullptr) return SOCKET_ERROR;
  names->push_back(entry->s_name);
  for (char** alias = entry->s_aliases; alias != nullptr && *alias != nullptr; ++alias) {
    names->push_back(*alias);
  }
  return 0;
}

std::uint32_t inet_addr(const std::string& text) {
  auto parse = Target<unsigned long(WSAAPI*)(const char*)>(kInetAddr);
  if (text.find('\0') != std::string::npos) return INADDR_NONE;
  return static_cast<std::uint32_t>(parse(text.c_str()));
}

TSocket CreateWakeEvent() {
  TSocket event = socket(AF_INET, SOCK_DGRAM, 0);
  if (event == INVALID_SOCKET) return INVALID_SOCKET;
  // Bound to loopback and connected to itself: only its own bytes reach it.
  TSockAddrIn address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  u_long non_blocking = 1;
  if (bind(event, &address, sizeof address) != 0 || getsockname(event, &address, &length) != 0 ||
      connect(event, &address, sizeof address) != 0 ||
      Target<int(WSAAPI*)(SOCKET, long, u_long*)>(kIoctlSocket)(Native(event), FIONBIO,
                                                                &non_blocking) != 0) {
    const int error = WSAGetLastError();
    closesocket(event);
    Fail(error);
    return INVALID_SOCKET;
  }
  std::lock_guard<TCriticalSection> lock(g_wake_events_lock);
  g_wake_events.push_back(WakeEventMark{event, false});
  return event;
}

int SetWakeEvent(TSocket event) {
  MarkWakeEvent(event, true);
  if (send(event, "", 1, 0) == SOCKET_ERROR) {
    // A full queue: the event is set already.
    if (WSAGetLastError() != WSAEWOULDBLOCK) return SOCKET_ERROR;
  }
  return 0;
}

int ResetWakeEvent(TSocket event) {
  MarkWakeEvent(event, false);
  char byte;
  while (recv(event, &byte, 1, 0) != SOCKET_ERROR) {
  }
  // WSAEWOULDBLOCK: nothing left to take, the event is reset.
  return WSAGetLastError() == WSAEWOULDBLOCK ? 0 : SOCKET_ERROR;
}

int CloseWakeEvent(TSocket event) {
  {
    std::lock_guard<TCriticalSection> lock(g_wake_events_lock);
    auto mark = FindWakeEvent(event);
    if (mark != g_wake_events.end()) g_wake_events.erase(mark);
  }
  return closesocket(event);
}

}  // namespace ws2
