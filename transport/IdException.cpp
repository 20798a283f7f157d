#include "transport/IdException.h"

#include "transport/IdWinSock2.h"

EIdWS2StubError::EIdWS2StubError(std::string base_message, std::uint32_t system_error)
    : EIdException(base_message),
      system_error_(system_error),
      base_message_(std::move(base_message)) {
  if (system_error != 0) {
    system_error_text_ = WinSockSystemErrorText(system_error);
    SetMessage(base_message_ + ": " + system_error_text_);
  }
}
