// The socket stack over the Windows Sockets entry points of IdWinSock2.
//
// The first construction in the process starts the sockets library (version
// 2.2); later constructions find it started, however often stacks are freed
// and made again. The library is cleaned up once, at program end.
//
// SockBind binds exclusively (SO_EXCLUSIVEADDRUSE), as Microsoft advises for
// a port that a program owns: no other socket can bind the address while this
// one holds it, which is how a bind on Linux behaves by default (the Linux
// layer takes the option as that). A second copy of the program still fails
// with 10048 (WSAEADDRINUSE); another program's socket that asks for
// SO_REUSEADDR is refused with 10013.
//
// Thread-safety: as TIdStack. Construction may run on any thread.
#pragma once

#include <atomic>

#include "transport/IdStack.h"

// The sockets library's start-up has succeeded in this process.
extern std::atomic<bool> StackStarted;

class TIdStackWindows : public TIdStack {
 public:
  // Raises EIdStackInitializationFailed "Winsock Initialization Error." when
  // the start-up fails.
  TIdStackWindows();
  ~TIdStackWindows() override;

  void FillHostAddresses() override;
  std::string FirstHostAddress() override;
  TStringList* HostAddressList() override;
  TSocket SockAccept(TSocket socket, std::string* peer_ip, int* peer_port) override;
  int SockBind(TSocket socket, int family, const std::string& ip, int port) override;
  int SockClose(TSocket socket) override;
  int SockConnect(TSocket socket, int family, const std::string& ip, int port) override;
  std::string LookupHostAddress(const std::string& host) override;
  std::string LookupLocalHostName() override;
  std::string LookupHostName(const std::string& ip) override;
  int LookupServicePort(const std::string& name) override;
  std::unique_ptr<TStringList> LookupServiceNames(int port) override;
  std::uint16_t HostToNetShort(std::uint16_t value) override;
  int SockListen(TSocket socket, int backlog) override;
  std::uint16_t NetToHostShort(std::uint16_t value) override;
  std::uint32_t HostToNetLong(std::uint32_t value) override;
  std::uint32_t NetToHostLong(std::uint32_t value) override;
  int SockRecv(TSocket socket, void* buffer, int length, int flags) override;
  int SockRecvFrom(TSocket socket, void* buffer, int length, int flags, std::string* peer_ip,
                   int* peer_port) override;
  int SockSelect(TIdSocketList* read_list, TIdSocketList* write_list, TIdSocketList* error_list,
                 int timeout_ms) override;
  int SockSend(TSocket socket, const void* buffer, int length, int flags) override;
  int SockSendTo(TSocket socket, const void* buffer, int length, int flags, const std::string& ip,
                 int port) override;
  int SockSetOption(TSocket socket, int level, int name, const void* value, int length) override;
  TSocket SockOpen(int family, int type, int protocol) override;
  int SockShutdown(TSocket socket, int how) override;
  // Knows 11001 itself and hands every other code to the common table.
  std::string SocketErrorText(int code) override;
  int LastSocketError() override;
  void SockPeerName(TSocket socket, int* family, std::string* ip, int* port) override;
  void SockLocalName(TSocket socket, int* family, std::string* ip, int* port) override;
  int SockGetOption(TSocket socket, int level, int name, void* value, int* length) override;
  std::string AddressToIPText(const TIdIPv4Address& address) override;
  void FillAddressFromIPText(const std::string& text, TIdIPv4Address* address) override;
  TSocket NewWakeHandle() override;
  int SignalWakeHandle(TSocket handle) override;
  int ResetWakeHandle(TSocket handle) override;
  int CloseWakeHandle(TSocket handle) override;

 private:
  // Builds the 16-byte record for ip and the low 16 bits of port; an empty ip
  // means any address when allow_any is set.
  TSockAddrIn MakeAddress(int family, const std::string& ip, int port, bool allow_any);
};

// The factory that ConfiguredStackClass starts with.
std::unique_ptr<TIdStack> NewStackWindows();
