#include "transport/IdWinSock2.h"

std::string WinSockDocumentedText(std::uint32_t code) {
  switch (code) {
    case WSANOTINITIALISED:
      return "Either the application has not called WSAStartup, or WSAStartup failed";
    case WSAVERNOTSUPPORTED:
      return "The Windows Sockets version requested is not supported";
    case WSASYSCALLFAILURE:
      return "A system call that should never fail has failed";
    default:
      return std::string();
  }
}
