// The socket stack: the transport's one door to the sockets service.
//
// TIdStack wraps every socket call that the transport makes, converts between
// IPv4 texts and 4-byte addresses, resolves host names, and turns a failed call
// into an EIdSocketError whose message comes from a fixed table of texts. The
// wrappers marked "unchecked" return the platform's result unchanged (-1 on
// failure) and raise nothing; the caller decides through CheckSocketResult.
// Error numbers are Windows Sockets numbers; LastSocketError is the calling
// thread's own.
//
// SharedStack is the one process-wide instance while any transport component
// exists. The transport component base creates and frees it under its
// StackLock; everyone else only uses it.
//
// Thread-safety: SharedStack is used by the main thread and by a server's
// listener thread at once and takes no lock of its own. Every operation may be
// called from any thread, except the host-address list (FillHostAddresses,
// HostAddressList, FirstHostAddress), which belongs to one thread at a time.
// RecentError is overwritten by the last failing check in any thread.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "framework/core/Classes.h"
#include "framework/core/Object.h"
#include "transport/IdException.h"
#include "transport/IdWinSock2.h"

// An IPv4 address in network order: element 0 is the first number of the
// dotted text.
using TIdIPv4Address = std::array<std::uint8_t, 4>;

// An ordered list of socket handles, as given to SockSelect.
using TIdSocketList = std::vector<TSocket>;

// SockSelect's time-out that waits without limit.
constexpr int kIdWaitForever = -2;

class TIdStack : public TObject {
 public:
  TIdStack();
  ~TIdStack() override;
  TIdStack(const TIdStack&) = delete;
  TIdStack& operator=(const TIdStack&) = delete;

  // ---- The local host's addresses (not used by any UDP path).
  // Refills HostAddresses with the IPv4 texts of this machine's name.
  virtual void FillHostAddresses() = 0;
  // The first line of HostAddressList.
  virtual std::string FirstHostAddress() = 0;
  // Makes HostAddresses on the first call and refills it on every call. The
  // stack owns the list.
  virtual TStringList* HostAddressList() = 0;

  // ---- Socket calls. Outputs are written only when the call succeeds.
  virtual TSocket SockAccept(TSocket socket, std::string* peer_ip, int* peer_port) = 0;
  // Binds to ip (all local addresses when empty) and the low 16 bits of port.
  // Unchecked; a non-empty ip that is not an IPv4 text raises EIdInvalidIPAddress.
  virtual int SockBind(TSocket socket, int family, const std::string& ip, int port) = 0;
  virtual int SockClose(TSocket socket) = 0;
  // Like SockBind, but an empty ip is rejected too.
  virtual int SockConnect(TSocket socket, int family, const std::string& ip, int port) = 0;
  // The first IPv4 address of a host name, as text; raises EIdSocketError
  // (11001 for a name that is not found).
  virtual std::string LookupHostAddress(const std::string& host) = 0;
  virtual std::string LookupLocalHostName() = 0;
  // The official name of an address text; raises EIdSocketError.
  virtual std::string LookupHostName(const std::string& ip) = 0;
  // A service's port, or the name read as a number; raises EIdInvalidServiceName.
  virtual int LookupServicePort(const std::string& name) = 0;
  // The official name and aliases of a port's service; empty when unknown.
  virtual std::unique_ptr<TStringList> LookupServiceNames(int port) = 0;
  virtual std::uint16_t HostToNetShort(std::uint16_t value) = 0;
  virtual int SockListen(TSocket socket, int backlog) = 0;
  virtual std::uint16_t NetToHostShort(std::uint16_t value) = 0;
  virtual std::uint32_t HostToNetLong(std::uint32_t value) = 0;
  virtual std::uint32_t NetToHostLong(std::uint32_t value) = 0;
  virtual int SockRecv(TSocket socket, void* buffer, int length, int flags) = 0;
  // One datagram into buffer; unchecked. A datagram longer than length fails
  // with 10040. The peer outputs are set only when the count is not -1.
  virtual int SockRecvFrom(TSocket socket, void* buffer, int length, int flags,
                           std::string* peer_ip, int* peer_port) = 0;
  // Waits until a socket of the lists is ready or timeout_ms has passed
  // (kIdWaitForever: no limit). Each list given may be null, holds at most 64
  // handles (more raise EIdStackSetSizeExceeded before any wait) and is
  // rewritten to its ready handles; emptied when the wait fails. Returns the
  // number of ready handles, 0 on time-out, -1 on failure.
  virtual int SockSelect(TIdSocketList* read_list, TIdSocketList* write_list,
                         TIdSocketList* error_list, int timeout_ms) = 0;
  virtual int SockSend(TSocket socket, const void* buffer, int length, int flags) = 0;
  // Sends one datagram to ip and the low 16 bits of port; unchecked. An ip
  // that is not an IPv4 text raises EIdInvalidIPAddress before anything is sent.
  virtual int SockSendTo(TSocket socket, const void* buffer, int length, int flags,
                         const std::string& ip, int port) = 0;
  // level and name in Windows numbering (SOL_SOCKET_WS, SO_BROADCAST_WS, ...).
  virtual int SockSetOption(TSocket socket, int level, int name, const void* value, int length) = 0;
  virtual TSocket SockOpen(int family, int type, int protocol) = 0;
  virtual int SockShutdown(TSocket socket, int how) = 0;
  // "Socket Error # <code>\r\n<base text>"; the base text is empty for a code
  // that is not in the table.
  virtual std::string SocketErrorText(int code);
  // The calling thread's last error.
  virtual int LastSocketError() = 0;
  // The connected peer, or the socket's own address; raise EIdSocketError.
  virtual void SockPeerName(TSocket socket, int* family, std::string* ip, int* port) = 0;
  virtual void SockLocalName(TSocket socket, int* family, std::string* ip, int* port) = 0;
  // length: in, the room at value; out, the size of the option.
  virtual int SockGetOption(TSocket socket, int level, int name, void* value, int* length) = 0;
  // "a.b.c.d", each number in decimal without leading zeros.
  virtual std::string AddressToIPText(const TIdIPv4Address& address) = 0;
  // Raises EIdInvalidIPAddress "<text> is not a valid IP address." for a text
  // that ParseIPText rejects.
  virtual void FillAddressFromIPText(const std::string& text, TIdIPv4Address* address) = 0;

  // ---- Wake handles: an event that SockSelect can wait on among sockets,
  // ready for reading while it is set, so that another thread can end a
  // readiness wait without touching the sockets in it. Unchecked, like the
  // socket calls: INVALID_SOCKET or -1 on failure.
  virtual TSocket NewWakeHandle() = 0;
  virtual int SignalWakeHandle(TSocket handle) = 0;
  virtual int ResetWakeHandle(TSocket handle) = 0;
  virtual int CloseWakeHandle(TSocket handle) = 0;

  // ---- Non-virtual operations.
  // A new instance of ConfiguredStackClass.
  static std::unique_ptr<TIdStack> NewStack();

  // False when result is not -1. Otherwise stores the thread's last error in
  // RecentError and returns true when it is one of ignored; raises
  // EIdSocketError for any other code.
  bool CheckSocketResult(int result, std::initializer_list<int> ignored = {});
  [[noreturn]] void ThrowSocketError(int code);

  // A socket in the IPv4 family; raises EIdInvalidSocket "Cannot allocate
  // socket." when the platform refuses one.
  TSocket NewSocket(int type, int protocol);

  // "127.0.0.1" for LOCALHOST in any letter case; an IPv4 text unchanged;
  // otherwise the first address that the name resolves to.
  std::string ResolveToIP(const std::string& host);

  static bool IsIPText(std::string_view text);
  // Reads an IPv4 text in one of four shapes: "a" (32 bits), "a.b" (8 + 24),
  // "a.b.c" (8 + 8 + 16) or "a.b.c.d"; each number decimal or hexadecimal
  // ("$", "x", "0x"), optionally signed, leading blanks allowed. Returns false
  // (and a zero address) for anything else.
  static bool ParseIPText(std::string_view text, TIdIPv4Address* address);
  TIdIPv4Address IPTextToAddress(const std::string& text);

  // The code seen by the last CheckSocketResult that met a failure.
  std::int32_t RecentError() const { return recent_error_.load(std::memory_order_relaxed); }

 protected:
  // HostAddresses: created on first use, owned.
  std::unique_ptr<TStringList> host_addresses_;

 private:
  std::atomic<std::int32_t> recent_error_{0};
};

// The class that NewStack instantiates, as a factory. At program start the
// platform's stack class, TIdStackWindows (IdStackWindows.cpp names it).
using TIdStackClass = std::unique_ptr<TIdStack> (*)();
extern TIdStackClass ConfiguredStackClass;

// The process-wide stack, or null. Written only under the component base's
// StackLock; readers rely on a live transport component keeping it alive.
extern TIdStack* SharedStack;
