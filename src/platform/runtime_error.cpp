#include "platform/runtime_error.h"

#include <utility>

namespace launcher {

RuntimeError::RuntimeError(std::int32_t number, std::string description, std::string source)
    : number_(number), description_(std::move(description)), source_(std::move(source)) {}

RuntimeError RuntimeError::Of(std::int32_t number) {
  return RuntimeError(number, DescribeError(number), kProjectSource);
}

std::string DescribeError(std::int32_t number) {
  switch (number) {
    case kErrInvalidCall:
      return "Invalid procedure call or argument";
    case kErrOverflow:
      return "Overflow";
    case kErrOutOfMemory:
      return "Out of memory";
    case kErrSubscript:
      return "Subscript out of range";
    case kErrTypeMismatch:
      return "Type mismatch";
    case kErrDllLoad:
      return "Error in loading DLL";
    case kErrBadFileName:
      return "Bad file name or number";
    case kErrFileNotFound:
      return "File not found";
    case kErrDeviceIo:
      return "Device I/O error";
    case kErrInputPastEnd:
      return "Input past end of file";
    case kErrDeviceUnavailable:
      return "Device unavailable";
    case kErrPermissionDenied:
      return "Permission denied";
    case kErrPathFileAccess:
      return "Path/File access error";
    case kErrPathNotFound:
      return "Path not found";
    case kErrResourceNotFound:
      return "Resource with identifier not found";
    case kErrInvalidPicture:
      return "Invalid picture";
    default:
      return "Application-defined or object-defined error";
  }
}

void Raise(std::int32_t number) {
  throw RuntimeError::Of(number);
}

}  // namespace launcher
