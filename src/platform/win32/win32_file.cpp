#include "platform/win32/win32_file.h"

#include <new>

#include "platform/runtime_error.h"

namespace launcher {

std::int32_t OpenFailure(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return kErrFileNotFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return kErrPermissionDenied;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_DIRECTORY:
      return kErrBadFileName;
    case ERROR_NOT_READY:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_INVALID_DRIVE:
      return kErrDeviceUnavailable;
    default:
      return kErrPathFileAccess;
  }
}

UniqueHandle OpenDiskFile(const std::wstring& path) {
  UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE)
    Raise(OpenFailure(GetLastError()));
  if (GetFileType(file.get()) != FILE_TYPE_DISK)
    Raise(kErrFileNotFound);
  return file;
}

template <typename Bytes>
bool ReadMore(HANDLE file, Bytes& bytes, DWORD count) {
  const std::size_t used = bytes.size();
  try {
    bytes.resize(used + count);
  } catch (const std::bad_alloc&) {
    Raise(kErrOutOfMemory);
  }
  DWORD got = 0;
  const bool read = ReadFile(file, bytes.data() + used, count, &got, nullptr) != FALSE;
  bytes.resize(used + got);
  if (!read)
    Raise(kErrDeviceIo);
  return got != 0;
}

template bool ReadMore(HANDLE, std::string&, DWORD);
template bool ReadMore(HANDLE, std::vector<BYTE>&, DWORD);

}  // namespace launcher
