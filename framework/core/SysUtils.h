// Exceptions and text helpers shared by every layer.
//
// Failures are exceptions that carry a message text (8-bit Windows-1251 text).
// An exception remembers the code address at which it was made and which module
// (executable or shared object) holds that address; the last-resort error box
// shows both. Exception objects are not shared between threads while in use:
// RunOnMainThread moves one across, and only after the raising side is done.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

#include "framework/core/Object.h"

class Exception : public TObject, public std::exception {
 public:
  explicit Exception(std::string message);

  const std::string& Message() const { return message_; }
  void SetMessage(std::string message) { message_ = std::move(message); }
  const char* what() const noexcept override { return message_.c_str(); }

  // Where the exception was made: the module's file name without its directory
  // (UTF-8, as the file system names it) and the address relative to the
  // module's base.
  std::string ModuleName() const;
  std::uintptr_t RelativeAddress() const;

 private:
  std::string message_;
  const void* raise_address_;
};

// The silent exception: the error display drops it.
class EAbort : public Exception {
 public:
  using Exception::Exception;
};

class EAbstractError : public Exception {
 public:
  EAbstractError() : Exception("Abstract Error") {}
};

class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

class EInvalidOperation : public Exception {
 public:
  using Exception::Exception;
};

class EOutOfResources : public Exception {
 public:
  using Exception::Exception;
};

class EStringListError : public Exception {
 public:
  using Exception::Exception;
};

// A failed operating-system call: "System Error.  Code: %d.\r\n%s".
class EOSError : public Exception {
 public:
  explicit EOSError(int code);
  int ErrorCode() const { return code_; }

 private:
  int code_;
};

// printf-style formatting into a std::string ("%d", "%s", "%x" as in printf).
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The operating system's text for an error number, with trailing blanks,
// control characters and full stops removed.
std::string SystemErrorText(int code);

// Reads an integer the way the runtime's text-to-integer conversion does:
// leading blanks skipped, an optional sign, then decimal digits or hexadecimal
// digits after "$", "x", "X", "0x" or "0X"; nothing may follow. Returns false for
// a text that does not read or does not fit in 64 bits.
bool TryReadInteger(std::string_view text, std::int64_t& value);
