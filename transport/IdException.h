// The transport's exception classes. Every transport failure is an
// EIdException; socket failures carry the Windows Sockets error number.
#pragma once

#include <cstdint>
#include <string>

#include "framework/core/SysUtils.h"

class EIdException : public Exception {
 public:
  using Exception::Exception;
};

// A failed socket call: SocketErrorCode is the Windows Sockets error number and
// the message is "Socket Error # %d\r\n%s" with the code's base text.
class EIdSocketError : public EIdException {
 public:
  EIdSocketError(std::int32_t code, std::string message)
      : EIdException(std::move(message)), socket_error_code_(code) {}
  std::int32_t SocketErrorCode() const { return socket_error_code_; }

 private:
  std::int32_t socket_error_code_;
};

// A call into the sockets layer that could not be made: the library is not
// started, or could not be loaded. The message is the base message, followed by
// ": " and the system's text for the code when the code is not 0.
class EIdWS2StubError : public EIdException {
 public:
  EIdWS2StubError(std::string base_message, std::uint32_t system_error);
  std::uint32_t SystemError() const { return system_error_; }
  const std::string& SystemErrorText() const { return system_error_text_; }
  const std::string& BaseMessage() const { return base_message_; }

 private:
  std::uint32_t system_error_;
  std::string system_error_text_;
  std::string base_message_;
};

class EIdInvalidSocket : public EIdException {
 public:
  using EIdException::EIdException;
};

class EIdInvalidServiceName : public EIdException {
 public:
  using EIdException::EIdException;
};

class EIdStackError : public EIdException {
 public:
  using EIdException::EIdException;
};

class EIdStackInitializationFailed : public EIdStackError {
 public:
  using EIdStackError::EIdStackError;
};

class EIdStackSetSizeExceeded : public EIdStackError {
 public:
  using EIdStackError::EIdStackError;
};

class EIdInvalidIPAddress : public EIdStackError {
 public:
  using EIdStackError::EIdStackError;
};

class EIdSocketHandleError : public EIdException {
 public:
  using EIdException::EIdException;
};
