#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <mutex>
#include <type_traits>

#include "framework/core/SysUtils.h"
#include "transport/IdException.h"
#include "transport/IdWinSock2.h"

namespace {

// Library state. "Loaded" is the Windows library handle being set; "started"
// is a successful WSAStartup not yet balanced by WSACleanup.
std::atomic<bool> g_loaded{false};
std::atomic<bool> g_started{false};
std::mutex g_startup_mutex;  // serialises WSAStartup, WSACleanup and unloading

// The library's end runs from the program's finalisers, after every static
// object has been destroyed (UnloadAtProgramEnd below, and the stack's clean-up
// just before it). It is safe there because the state it touches has nothing
// to destroy.
static_assert(std::is_trivially_destructible_v<std::atomic<bool>> &&
              std::is_trivially_destructible_v<std::mutex>);

thread_local int t_last_error = 0;

// errno values and the Windows Sockets numbers that report them. Looked up
// from the top in both directions: a bad descriptor is reported as "not a
// socket" (what Windows answers for a handle that is no socket), while the
// text of WSAEBADF still comes from EBADF.
struct ErrnoCode {
  int errno_value;
  int code;
};
constexpr ErrnoCode kErrnoCodes[] = {
    {EINTR, WSAEINTR},
    {ENOTSOCK, WSAENOTSOCK},
    {EBADF, WSAENOTSOCK},
    {EBADF, WSAEBADF},
    {EACCES, WSAEACCES},
    {EPERM, WSAEACCES},
    {EFAULT, WSAEFAULT},
    {EINVAL, WSAEINVAL},
    {EMFILE, WSAEMFILE},
    {ENFILE, WSAEMFILE},
    {EWOULDBLOCK, WSAEWOULDBLOCK},
    {EINPROGRESS, WSAEINPROGRESS},
    {EALREADY, WSAEALREADY},
    {EDESTADDRREQ, WSAEDESTADDRREQ},
    {EMSGSIZE, WSAEMSGSIZE},
    {EPROTOTYPE, WSAEPROTOTYPE},
    {ENOPROTOOPT, WSAENOPROTOOPT},
    {EPROTONOSUPPORT, WSAEPROTONOSUPPORT},
    {ESOCKTNOSUPPORT, WSAESOCKTNOSUPPORT},
    {EOPNOTSUPP, WSAEOPNOTSUPP},
    {EPFNOSUPPORT, WSAEPFNOSUPPORT},
    {EAFNOSUPPORT, WSAEAFNOSUPPORT},
    {EADDRINUSE, WSAEADDRINUSE},
    {EADDRNOTAVAIL, WSAEADDRNOTAVAIL},
    {ENETDOWN, WSAENETDOWN},
    {ENETUNREACH, WSAENETUNREACH},
    {ENETRESET, WSAENETRESET},
    {ECONNABORTED, WSAECONNABORTED},
    {ECONNRESET, WSAECONNRESET},
    {ENOBUFS, WSAENOBUFS},
    {ENOMEM, WSAENOBUFS},
    {EISCONN, WSAEISCONN},
    {ENOTCONN, WSAENOTCONN},
    {ESHUTDOWN, WSAESHUTDOWN},
    {EPIPE, WSAESHUTDOWN},
    {ETOOMANYREFS, WSAETOOMANYREFS},
    {ETIMEDOUT, WSAETIMEDOUT},
    {ECONNREFUSED, WSAECONNREFUSED},
    {ELOOP, WSAELOOP},
    {ENAMETOOLONG, WSAENAMETOOLONG},
    {EHOSTDOWN, WSAEHOSTDOWN},
    {EHOSTUNREACH, WSAEHOSTUNREACH},
    {ENOTEMPTY, WSAENOTEMPTY},
    {EUSERS, WSAEUSERS},
    {EDQUOT, WSAEDQUOT},
    {ESTALE, WSAESTALE},
    {EREMOTE, WSAEREMOTE},
};

// An errno with no Windows counterpart is reported as a failed system call,
// never as 10000 + errno: Linux numbers its errors differently from BSD, so
// that sum could name an unrelated Windows error (ELOOP is 40 here).
int CodeFromErrno(int errno_value) {
  for (const ErrnoCode& entry : kErrnoCodes) {
    if (entry.errno_value == errno_value) return entry.code;
  }
  return WSASYSCALLFAILURE;
}

int CodeFromResolverError(int error) {
  switch (error) {
    case EAI_NONAME:
      return WSAHOST_NOT_FOUND;
    case EAI_AGAIN:
      return WSATRY_AGAIN;
    case EAI_NODATA:
    case EAI_ADDRFAMILY:
      return WSANO_DATA;
    case EAI_MEMORY:
      return WSAENOBUFS;
    case EAI_SYSTEM:
      return CodeFromErrno(errno);
    default:
      return WSANO_RECOVERY;
  }
}

int Fail(int code) {
  t_last_error = code;
  return SOCKET_ERROR;
}

int FailErrno() {
  return Fail(CodeFromErrno(errno));
}

void RequireLoaded(const char* entry_name) {
  if (!g_loaded.load(std::memory_order_acquire)) {
    throw EIdWS2StubError(Format("Error on call Winsock2 library function %s", entry_name),
                          WSANOTINITIALISED);
  }
}

// The gate of every entry: raises while the library is not loaded, fails with
// WSANOTINITIALISED while it is loaded but not started.
bool Enter(const char* entry_name) {
  RequireLoaded(entry_name);
  if (!g_started.load(std::memory_order_acquire)) {
    t_last_error = WSANOTINITIALISED;
    return false;
  }
  return true;
}

// Windows message flags to Linux ones. MSG_OOB, MSG_PEEK and MSG_DONTROUTE
// have the same values on both.
bool NativeFlags(int flags, int* native) {
  constexpr int kSame = MSG_OOB_WS | MSG_PEEK_WS | MSG_DONTROUTE_WS;
  if ((flags & ~(kSame | MSG_WAITALL_WS)) != 0) {
    t_last_error = WSAEOPNOTSUPP;
    return false;
  }
  *native = (flags & kSame) | ((flags & MSG_WAITALL_WS) != 0 ? MSG_WAITALL : 0);
  return true;
}

// How an option's value is laid out on Windows.
enum class OptionKind {
  kInt,      // a 32-bit integer (BOOL, DWORD or int) on both platforms
  kLinger,   // two 16-bit values on Windows, two ints on Linux
  kTimeout,  // milliseconds as a DWORD on Windows, a timeval on Linux
  kError,    // a pending error: errno on Linux, a Windows Sockets number
  // SO_EXCLUSIVEADDRUSE: Linux holds a bound address exclusively unless
  // SO_REUSEADDR is on (the native option of the mapping), so it is that
  // option's opposite, and like Windows it cannot be set together with it.
  kExclusive,
};

struct OptionMapping {
  int ws_level;
  int ws_name;
  int level;
  int name;
  OptionKind kind;
};

constexpr OptionMapping kOptions[] = {
    {SOL_SOCKET_WS, SO_DEBUG_WS, SOL_SOCKET, SO_DEBUG, OptionKind::kInt},
    {SOL_SOCKET_WS, SO_ACCEPTCONN_WS, SOL_SOCKET, SO_ACCEPTCONN, OptionKind::kInt},
    {SOL_SOCKET_WS, SO_REUSEADDR_WS, SOL_SOCKET, SO_REUSEADDR, OptionKind::kInt},
    {SOL_SOCKET_WS, SO_EXCLUSIVEADDRUSE_WS, SOL_SOCKET, SO_REUSEADDR, OptionKind::kExclusive},
    {SOL_SOCKET_WS, SO_KEEPALIVE_WS, SOL_SOCKET, SO_KEEPALIVE, OptionKind::kInt},
    {SOL_SOCKET_WS, SO_DONTROUTE_WS, SOL_SOCKET, SO_DONTROUTE, OptionKind::kInt},
    {SOL_SOCKET_WS, SO_BROADCAST_WS, SOL_SOCKET, SO_BROADCAST, OptionKind::kInt},
    {SOL_SOCKET_WS, SO_LINGER_WS, SOL_SOCKET, SO_LINGER, OptionKind::kLinger},
    {SOL_SOCKET_WS, SO_OOBINLINE_WS, SOL_SOCKET, SO_OOBINLINE, OptionKind::kInt},
    {SOL_SOCKET_WS, SO_SNDBUF_WS, SOL_SOCKET, SO_SNDBUF, OptionKind::kInt},
    {SOL_SOCKET_WS, SO_RCVBUF_WS, SOL_SOCKET, SO_RCVBUF, OptionKind::kInt},
    {SOL_SOCKET_WS, SO_SNDTIMEO_WS, SOL_SOCKET, SO_SNDTIMEO, OptionKind::kTimeout},
    {SOL_SOCKET_WS, SO_RCVTIMEO_WS, SOL_SOCKET, SO_RCVTIMEO, OptionKind::kTimeout},
    {SOL_SOCKET_WS, SO_ERROR_WS, SOL_SOCKET, SO_ERROR, OptionKind::kError},
    {SOL_SOCKET_WS, SO_TYPE_WS, SOL_SOCKET, SO_TYPE, OptionKind::kInt},
    {IPPROTO_IP_WS, IP_TOS_WS, IPPROTO_IP, IP_TOS, OptionKind::kInt},
    {IPPROTO_IP_WS, IP_TTL_WS, IPPROTO_IP, IP_TTL, OptionKind::kInt},
    {IPPROTO_IP_WS, IP_MULTICAST_TTL_WS, IPPROTO_IP, IP_MULTICAST_TTL, OptionKind::kInt},
    {IPPROTO_IP_WS, IP_MULTICAST_LOOP_WS, IPPROTO_IP, IP_MULTICAST_LOOP, OptionKind::kInt},
    {IPPROTO_TCP_WS, TCP_NODELAY_WS, IPPROTO_TCP, TCP_NODELAY, OptionKind::kInt},
};

const OptionMapping* FindOption(int level, int name) {
  for (const OptionMapping& option : kOptions) {
    if (option.ws_level == level && option.ws_name == name) return &option;
  }
  return nullptr;
}

struct WindowsLinger {
  std::uint16_t l_onoff;
  std::uint16_t l_linger;
};

// Texts for the Windows Sockets numbers that have no errno counterpart.
std::string ResolverText(int error) {
  return gai_strerror(error);
}

}  // namespace

std::string WinSockSystemErrorText(std::uint32_t code) {
  std::string documented = WinSockDocumentedText(code);
  if (!documented.empty()) return documented;
  switch (code) {
    case WSAHOST_NOT_FOUND:
      return ResolverText(EAI_NONAME);
    case WSATRY_AGAIN:
      return ResolverText(EAI_AGAIN);
    case WSANO_RECOVERY:
      return ResolverText(EAI_FAIL);
    case WSANO_DATA:
      return ResolverText(EAI_NODATA);
    default:
      break;
  }
  if (code < 10000) return SystemErrorText(static_cast<int>(code));
  for (const ErrnoCode& entry : kErrnoCodes) {
    if (static_cast<std::uint32_t>(entry.code) == code) return SystemErrorText(entry.errno_value);
  }
  return Format("Unknown error %u", code);
}

int WinSockErrorFromErrno(int errno_value) {
  return CodeFromErrno(errno_value);
}

bool WinSockLoaded() {
  return g_loaded.load(std::memory_order_acquire);
}

void WinSockUnload() {
  std::lock_guard<std::mutex> lock(g_startup_mutex);
  if (g_loaded.exchange(false, std::memory_order_acq_rel)) {
    g_started.store(false, std::memory_order_release);
  }
}

namespace {
// Unloads after every static destructor of the program has run (they run from
// exit's handlers, before the finalisers), so that units that still close or
// wait on sockets while they shut down find the library in place.
__attribute__((destructor(200))) void UnloadAtProgramEnd() {
  WinSockUnload();
}
}  // namespace

namespace ws2 {

int WSAStartup(std::uint16_t version, TWSAData* data) {
  std::lock_guard<std::mutex> lock(g_startup_mutex);
  g_loaded.store(true, std::memory_order_release);
  const int major = version & 0xFF;
  const int minor = version >> 8;
  if (major == 0) return WSAVERNOTSUPPORTED;
  if (data != nullptr) {
    data->wVersion = (major > 2 || (major == 2 && minor >= 2)) ? 0x0202 : version;
    data->wHighVersion = 0x0202;
    data->szDescription = "BSD sockets";
    data->szSystemStatus = "Running";
  }
  g_started.store(true, std::memory_order_release);
  return 0;
}

int WSACleanup() {
  std::lock_guard<std::mutex> lock(g_startup_mutex);
  if (!Enter("WSACleanup")) return SOCKET_ERROR;
  g_started.store(false, std::memory_order_release);
  return 0;
}

int WSAGetLastError() {
  RequireLoaded("WSAGetLastError");
  return t_last_error;
}

void WSASetLastError(int code) {
  RequireLoaded("WSASetLastError");
  t_last_error = code;
}

TSocket socket(int family, int type, int protocol) {
  if (!Enter("socket")) return INVALID_SOCKET;
  // Close-on-exec: a program that this one starts must not inherit its ports.
  int fd = ::socket(family, type | SOCK_CLOEXEC, protocol);
  if (fd < 0) {
    FailErrno();
    return INVALID_SOCKET;
  }
  return fd;
}

int closesocket(TSocket s) {
  if (!Enter("closesocket")) return SOCKET_ERROR;
  if (s < 0) return Fail(WSAENOTSOCK);
  // Not retried on EINTR: Linux has released the descriptor either way.
  if (::close(s) != 0 && errno != EINTR) return FailErrno();
  return 0;
}

int shutdown(TSocket s, int how) {
  if (!Enter("shutdown")) return SOCKET_ERROR;
  if (::shutdown(s, how) != 0) return FailErrno();
  return 0;
}

int bind(TSocket s, const TSockAddrIn* address, int length) {
  if (!Enter("bind")) return SOCKET_ERROR;
  if (address == nullptr || length < static_cast<int>(sizeof(TSockAddrIn))) return Fail(WSAEFAULT);
  if (::bind(s, reinterpret_cast<const sockaddr*>(address), sizeof(TSockAddrIn)) != 0) {
    return FailErrno();
  }
  return 0;
}

int connect(TSocket s, const TSockAddrIn* address, int length) {
  if (!Enter("connect")) return SOCKET_ERROR;
  if (address == nullptr || length < static_cast<int>(sizeof(TSockAddrIn))) return Fail(WSAEFAULT);
  if (::connect(s, reinterpret_cast<const sockaddr*>(address), sizeof(TSockAddrIn)) != 0) {
    return FailErrno();
  }
  return 0;
}

int listen(TSocket s, int backlog) {
  if (!Enter("listen")) return SOCKET_ERROR;
  if (::listen(s, backlog) != 0) return FailErrno();
  return 0;
}

TSocket accept(TSocket s, TSockAddrIn* address, int* length) {
  if (!Enter("accept")) return INVALID_SOCKET;
  TSockAddrIn record{};
  socklen_t record_length = sizeof record;
  int fd;
  do {
    fd = ::accept4(s, reinterpret_cast<sockaddr*>(&record), &record_length, SOCK_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    FailErrno();
    return INVALID_SOCKET;
  }
  if (address != nullptr && length != nullptr) {
    std::size_t room =
        std::min<std::size_t>(static_cast<std::size_t>(std::max(*length, 0)), sizeof record);
    std::memcpy(address, &record, room);
    *length = static_cast<int>(std::min<socklen_t>(record_length, sizeof record));
  }
  return fd;
}

namespace {
int LocalOrPeerName(bool peer, TSocket s, TSockAddrIn* address, int* length) {
  if (address == nullptr || length == nullptr || *length < static_cast<int>(sizeof(TSockAddrIn))) {
    return Fail(WSAEFAULT);
  }
  *address = TSockAddrIn{};
  socklen_t record_length = sizeof(TSockAddrIn);
  auto* record = reinterpret_cast<sockaddr*>(address);
  int rc =
      peer ? ::getpeername(s, record, &record_length) : ::getsockname(s, record, &record_length);
  if (rc != 0) return FailErrno();
  // Linux reports 0.0.0.0:0 for a socket that is not bound; Windows fails.
  if (!peer && address->sin_port == 0) return Fail(WSAEINVAL);
  *length = static_cast<int>(std::min<socklen_t>(record_length, sizeof(TSockAddrIn)));
  return 0;
}
}  // namespace

int getsockname(TSocket s, TSockAddrIn* address, int* length) {
  if (!Enter("getsockname")) return SOCKET_ERROR;
  return LocalOrPeerName(false, s, address, length);
}

int getpeername(TSocket s, TSockAddrIn* address, int* length) {
  if (!Enter("getpeername")) return SOCKET_ERROR;
  return LocalOrPeerName(true, s, address, length);
}

int setsockopt(TSocket s, int level, int name, const void* value, int length) {
  if (!Enter("setsockopt")) return SOCKET_ERROR;
  const OptionMapping* option = FindOption(level, name);
  if (option == nullptr) return Fail(WSAENOPROTOOPT);
  if (value == nullptr || length < 4) return Fail(WSAEFAULT);
  int rc = -1;
  switch (option->kind) {
    case OptionKind::kLinger: {
      WindowsLinger windows_linger;
      std::memcpy(&windows_linger, value, sizeof windows_linger);
      linger native{windows_linger.l_onoff != 0 ? 1 : 0, windows_linger.l_linger};
      rc = ::setsockopt(s, option->level, option->name, &native, sizeof native);
      break;
    }
    case OptionKind::kTimeout: {
      std::uint32_t ms;
      std::memcpy(&ms, value, sizeof ms);
      timeval native{static_cast<time_t>(ms / 1000), static_cast<suseconds_t>(ms % 1000 * 1000)};
      rc = ::setsockopt(s, option->level, option->name, &native, sizeof native);
      break;
    }
    case OptionKind::kInt:
    case OptionKind::kError: {
      int native;
      std::memcpy(&native, value, sizeof native);
      rc = ::setsockopt(s, option->level, option->name, &native, sizeof native);
      break;
    }
    case OptionKind::kExclusive: {
      int exclusive;
      std::memcpy(&exclusive, value, sizeof exclusive);
      int reuse = 0;
      socklen_t reuse_length = sizeof reuse;
      rc = ::getsockopt(s, option->level, option->name, &reuse, &reuse_length);
      if (rc == 0 && exclusive != 0 && reuse != 0) return Fail(WSAEINVAL);
      break;
    }
  }
  return rc != 0 ? FailErrno() : 0;
}

int getsockopt(TSocket s, int level, int name, void* value, int* length) {
  if (!Enter("getsockopt")) return SOCKET_ERROR;
  const OptionMapping* option = FindOption(level, name);
  if (option == nullptr) return Fail(WSAENOPROTOOPT);
  if (value == nullptr || length == nullptr || *length < 4) return Fail(WSAEFAULT);
  switch (option->kind) {
    case OptionKind::kLinger: {
      linger native{};
      socklen_t native_length = sizeof native;
      if (::getsockopt(s, option->level, option->name, &native, &native_length) != 0) {
        return FailErrno();
      }
      WindowsLinger windows_linger{static_cast<std::uint16_t>(native.l_onoff != 0 ? 1 : 0),
                                   static_cast<std::uint16_t>(native.l_linger)};
      std::memcpy(value, &windows_linger, sizeof windows_linger);
      break;
    }
    case OptionKind::kTimeout: {
      timeval native{};
      socklen_t native_length = sizeof native;
      if (::getsockopt(s, option->level, option->name, &native, &native_length) != 0) {
        return FailErrno();
      }
      auto ms = static_cast<std::uint32_t>(native.tv_sec * 1000 + native.tv_usec / 1000);
      std::memcpy(value, &ms, sizeof ms);
      break;
    }
    case OptionKind::kInt:
    case OptionKind::kError: {
      int native = 0;
      socklen_t native_length = sizeof native;
      if (::getsockopt(s, option->level, option->name, &native, &native_length) != 0) {
        return FailErrno();
      }
      if (option->kind == OptionKind::kError && native != 0) native = CodeFromErrno(native);
      std::memcpy(value, &native, sizeof native);
      break;
    }
    case OptionKind::kExclusive: {
      int reuse = 0;
      socklen_t native_length = sizeof reuse;
      if (::getsockopt(s, option->level, option->name, &reuse, &native_length) != 0) {
        return FailErrno();
      }
      const int exclusive = reuse == 0 ? 1 : 0;
      std::memcpy(value, &exclusive, sizeof exclusive);
      break;
    }
  }
  *length = 4;
  return 0;
}

int send(TSocket s, const void* buffer, int length, int flags) {
  return sendto(s, buffer, length, flags, nullptr, 0);
}

int sendto(TSocket s, const void* buffer, int length, int flags, const TSockAddrIn* to,
           int to_length) {
  if (!Enter(to == nullptr ? "send" : "sendto")) return SOCKET_ERROR;
  int native_flags;
  if (!NativeFlags(flags, &native_flags)) return SOCKET_ERROR;
  if (length < 0 || (buffer == nullptr && length > 0)) return Fail(WSAEFAULT);
  if (to != nullptr && to_length < static_cast<int>(sizeof(TSockAddrIn))) return Fail(WSAEFAULT);
  // Windows refuses a destination of port 0 or of the any-address; Linux
  // would fail the first with EINVAL and deliver the second to this machine.
  if (to != nullptr && (to->sin_port == 0 || to->sin_addr.s_addr == htonl(INADDR_ANY))) {
    return Fail(WSAEADDRNOTAVAIL);
  }
  // No SIGPIPE: a send on a broken connection fails with an error code, as on
  // Windows, instead of ending the program.
  native_flags |= MSG_NOSIGNAL;
  ssize_t n;
  do {
    n = ::sendto(s, buffer, static_cast<std::size_t>(length), native_flags,
                 reinterpret_cast<const sockaddr*>(to), to == nullptr ? 0 : sizeof(TSockAddrIn));
  } while (n < 0 && errno == EINTR);
  if (n < 0) return FailErrno();
  return static_cast<int>(n);
}

int recv(TSocket s, void* buffer, int length, int flags) {
  return recvfrom(s, buffer, length, flags, nullptr, nullptr);
}

int recvfrom(TSocket s, void* buffer, int length, int flags, TSockAddrIn* from, int* from_length) {
  if (!Enter(from == nullptr ? "recv" : "recvfrom")) return SOCKET_ERROR;
  int native_flags;
  if (!NativeFlags(flags, &native_flags)) return SOCKET_ERROR;
  if (length < 0 || (buffer == nullptr && length > 0)) return Fail(WSAEFAULT);
  TSockAddrIn record{};
  if (from != nullptr &&
      (from_length == nullptr || *from_length < static_cast<int>(sizeof(TSockAddrIn)))) {
    return Fail(WSAEFAULT);
  }
  iovec io{buffer, static_cast<std::size_t>(length)};
  msghdr message{};
  message.msg_name = &record;
  message.msg_namelen = sizeof record;
  message.msg_iov = &io;
  message.msg_iovlen = 1;
  ssize_t n;
  do {
    n = ::recvmsg(s, &message, native_flags);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return FailErrno();
  // Linux cuts a datagram that does not fit and reports it only in the flags;
  // Windows fails the call. The first bytes are in the buffer either way.
  if ((message.msg_flags & MSG_TRUNC) != 0) return Fail(WSAEMSGSIZE);
  if (from != nullptr) {
    *from = record;
    *from_length = static_cast<int>(std::min<socklen_t>(message.msg_namelen, sizeof record));
  }
  return static_cast<int>(n);
}

int select(int /*nfds*/, TFdSet* read_set, TFdSet* write_set, TFdSet* error_set,
           const TTimeVal* timeout) {
  if (!Enter("select")) return SOCKET_ERROR;
  TFdSet* sets[3] = {read_set, write_set, error_set};
  constexpr short kWanted[3] = {POLLIN, POLLOUT, POLLPRI};
  // A pending error or a hang-up makes a socket readable, as on Windows: the
  // receive that follows reports it.
  constexpr short kReady[3] = {POLLIN | POLLERR | POLLHUP, POLLOUT, POLLPRI};
  pollfd fds[3 * FD_SETSIZE_WS];
  nfds_t count = 0;
  for (TFdSet* set : sets) {
    if (set != nullptr && set->fd_count > FD_SETSIZE_WS) return Fail(WSAEINVAL);
  }
  for (int k = 0; k < 3; ++k) {
    if (sets[k] == nullptr) continue;
    for (std::uint32_t i = 0; i < sets[k]->fd_count; ++i) {
      if (sets[k]->fd_array[i] < 0) return Fail(WSAENOTSOCK);
      fds[count++] = pollfd{sets[k]->fd_array[i], kWanted[k], 0};
    }
  }
  if (count == 0) return Fail(WSAEINVAL);

  long long wait_ms = -1;
  if (timeout != nullptr) {
    if (timeout->tv_sec < 0 || timeout->tv_usec < 0) return Fail(WSAEINVAL);
    // Rounded up: the wait never ends before the time asked for.
    wait_ms = static_cast<long long>(timeout->tv_sec) * 1000 + (timeout->tv_usec + 999) / 1000;
  }
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline =
      Clock::now() + std::chrono::milliseconds(std::max(wait_ms, 0LL));
  int ready;
  for (;;) {
    int poll_ms = -1;
    if (wait_ms >= 0) {
      auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
      poll_ms = static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
    }
    ready = ::poll(fds, count, poll_ms);
    if (ready >= 0) {
      // A long wait is cut into INT_MAX pieces; go on until the deadline.
      if (ready == 0 && wait_ms >= 0 && Clock::now() < deadline) continue;
      break;
    }
    if (errno != EINTR) return FailErrno();
  }
  for (nfds_t i = 0; i < count; ++i) {
    if ((fds[i].revents & POLLNVAL) != 0) return Fail(WSAENOTSOCK);
  }
  int total = 0;
  nfds_t next = 0;
  for (int k = 0; k < 3; ++k) {
    if (sets[k] == nullptr) continue;
    std::uint32_t kept = 0;
    for (std::uint32_t i = 0; i < sets[k]->fd_count; ++i, ++next) {
      if ((fds[next].revents & kReady[k]) != 0) sets[k]->fd_array[kept++] = fds[next].fd;
    }
    sets[k]->fd_count = kept;
    total += static_cast<int>(kept);
  }
  return total;
}

int gethostbyname(const std::string& name, std::vector<in_addr>* addresses) {
  if (!Enter("gethostbyname")) return SOCKET_ERROR;
  addresses->clear();
  std::string host = name;
  if (host.empty()) {
    char local[256] = {};
    if (::gethostname(local, sizeof local - 1) != 0) return FailErrno();
    host = local;
  }
  // A counted name with a NUL inside is no name: the C resolver would look up
  // only the part before it.
  if (host.find('\0') != std::string::npos) return Fail(WSAHOST_NOT_FOUND);
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* answer = nullptr;
  int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &answer);
  if (rc != 0) return Fail(CodeFromResolverError(rc));
  for (addrinfo* entry = answer; entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_family == AF_INET && entry->ai_addr != nullptr) {
      addresses->push_back(reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr);
    }
  }
  ::freeaddrinfo(answer);
  if (addresses->empty()) return Fail(WSANO_DATA);
  return 0;
}

int gethostbyaddr(in_addr address, std::string* name) {
  if (!Enter("gethostbyaddr")) return SOCKET_ERROR;
  TSockAddrIn record{};
  record.sin_family = AF_INET;
  record.sin_addr = address;
  char host[NI_MAXHOST] = {};
  int rc = ::getnameinfo(reinterpret_cast<const sockaddr*>(&record), sizeof record, host,
                         sizeof host, nullptr, 0, NI_NAMEREQD);
  if (rc != 0) return Fail(CodeFromResolverError(rc));
  *name = host;
  return 0;
}

int gethostname(char* name, int length) {
  if (!Enter("gethostname")) return SOCKET_ERROR;
  if (name == nullptr || length <= 0) return Fail(WSAEFAULT);
  if (::gethostname(name, static_cast<std::size_t>(length)) != 0) return FailErrno();
  return 0;
}

namespace {
// Runs a reentrant servent look-up with a buffer that grows until it fits.
template <typename Lookup>
int ServiceLookup(Lookup lookup, servent* entry, std::vector<char>* buffer, bool* found) {
  buffer->resize(1024);
  for (;;) {
    servent* result = nullptr;
    int rc = lookup(entry, buffer->data(), buffer->size(), &result);
    if (rc == ERANGE && buffer->size() < (1u << 20)) {
      buffer->resize(buffer->size() * 2);
      continue;
    }
    if (rc != 0 && rc != ENOENT) return Fail(CodeFromErrno(rc));
    *found = result != nullptr;
    return 0;
  }
}
}  // namespace

int getservbyname(const std::string& name, int* port) {
  if (!Enter("getservbyname")) return SOCKET_ERROR;
  if (name.find('\0') != std::string::npos) return Fail(WSANO_DATA);
  servent entry{};
  std::vector<char> buffer;
  bool found = false;
  int rc = ServiceLookup(
      [&](servent* e, char* b, std::size_t n, servent** r) {
        return ::getservbyname_r(name.c_str(), nullptr, e, b, n, r);
      },
      &entry, &buffer, &found);
  if (rc != 0) return rc;
  if (!found) return Fail(WSANO_DATA);
  *port = ::ntohs(static_cast<std::uint16_t>(entry.s_port));
  return 0;
}

int getservbyport(int port, std::vector<std::string>* names) {
  if (!Enter("getservbyport")) return SOCKET_ERROR;
  names->clear();
  servent entry{};
  std::vector<char> buffer;
  bool found = false;
  const int net_port = ::htons(static_cast<std::uint16_t>(port));
  int rc =
      ServiceLookup([&](servent* e, char* b, std::size_t n,
                        servent** r) { return ::getservbyport_r(net_port, nullptr, e, b, n, r); },
                    &entry, &buffer, &found);
  if (rc != 0) return rc;
  if (!found) return Fail(WSANO_DATA);
  names->push_back(entry.s_name);
  for (char** alias = entry.s_aliases; alias != nullptr && *alias != nullptr; ++alias) {
    names->push_back(*alias);
  }
  return 0;
}

std::uint32_t inet_addr(const std::string& text) {
  if (text.find('\0') != std::string::npos) return INADDR_NONE;
  return ::inet_addr(text.c_str());
}

TSocket CreateWakeEvent() {
  if (!Enter("CreateWakeEvent")) return INVALID_SOCKET;
  // Not a semaphore: one read takes the whole count, so the event is either
  // set or reset however often it was set.
  int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (fd < 0) {
    FailErrno();
    return INVALID_SOCKET;
  }
  return fd;
}

int SetWakeEvent(TSocket event) {
  if (!Enter("SetWakeEvent")) return SOCKET_ERROR;
  const std::uint64_t one = 1;
  ssize_t n;
  do {
    n = ::write(event, &one, sizeof one);
  } while (n < 0 && errno == EINTR);
  // EAGAIN: the count is at its limit, so the event is set already.
  if (n < 0 && errno != EAGAIN) return FailErrno();
  return 0;
}

int ResetWakeEvent(TSocket event) {
  if (!Enter("ResetWakeEvent")) return SOCKET_ERROR;
  std::uint64_t count;
  ssize_t n;
  do {
    n = ::read(event, &count, sizeof count);
  } while (n < 0 && errno == EINTR);
  // EAGAIN: nothing to take, the event was reset already.
  if (n < 0 && errno != EAGAIN) return FailErrno();
  return 0;
}

int CloseWakeEvent(TSocket event) {
  return closesocket(event);
}

}  // namespace ws2
