// The one failure type of the launcher: number, description and source, as the
// classic runtime reports them. Backends raise it; the logic catches only it.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace launcher {

// Classic runtime error numbers used by the launcher and its backends.
enum ErrorNumber : std::int32_t {
  kErrInvalidCall = 5,
  kErrOverflow = 6,
  kErrOutOfMemory = 7,
  kErrSubscript = 9,
  kErrTypeMismatch = 13,
  kErrDllLoad = 48,
  kErrBadFileName = 52,
  kErrFileNotFound = 53,
  kErrDeviceIo = 57,
  kErrInputPastEnd = 62,
  kErrDeviceUnavailable = 68,
  kErrPermissionDenied = 70,
  kErrPathFileAccess = 75,
  kErrPathNotFound = 76,
  kErrResourceNotFound = 326,
  kErrInvalidPicture = 481,
  kErrPassedOn = 4646,
};

// The source of a failure that arises in the launcher's own statements.
inline constexpr const char* kProjectSource = "launcher";

class RuntimeError : public std::exception {
 public:
  RuntimeError(std::int32_t number, std::string description, std::string source);

  // A failure with the runtime's own description of `number` and source "launcher".
  static RuntimeError Of(std::int32_t number);

  std::int32_t number() const { return number_; }
  const std::string& description() const { return description_; }
  const std::string& source() const { return source_; }
  const char* what() const noexcept override { return description_.c_str(); }

 private:
  std::int32_t number_;
  std::string description_;
  std::string source_;
};

// The runtime's description of a classic error number ("Application-defined or
// object-defined error" for numbers it does not know).
std::string DescribeError(std::int32_t number);

[[noreturn]] void Raise(std::int32_t number);

}  // namespace launcher
