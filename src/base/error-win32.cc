// GetLastError codes onto the program's error set, giving the same names as
// the POSIX build for the same failures.
#include <windows.h>

#include "base/error.h"

namespace hushmark {

namespace {
// ERROR_DISK_QUOTA_EXCEEDED, which MinGW's headers lack.
constexpr DWORD diskQuotaExceeded = 1295;
}  // namespace

Error errorFromSystem(int code) {
  switch (static_cast<DWORD>(code)) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_BAD_PATHNAME:
      return Error::FileNotFound;
    case ERROR_DIRECTORY:
      return Error::NotDir;
    case ERROR_ACCESS_DENIED:
    case ERROR_PRIVILEGE_NOT_HELD:
    case ERROR_CANT_ACCESS_FILE:
      return Error::AccessDenied;
    case ERROR_SHARING_VIOLATION:
      return Error::SharingViolation;
    case ERROR_LOCK_VIOLATION:
    case ERROR_BUSY:
    case ERROR_PATH_BUSY:
    case ERROR_USER_MAPPED_FILE:
      return Error::FileBusy;
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA:
    case ERROR_PIPE_NOT_CONNECTED:
      return Error::BrokenPipe;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return Error::NoSpaceLeft;
    case diskQuotaExceeded:
      return Error::DiskQuota;
    case ERROR_FILE_TOO_LARGE:
      return Error::FileTooBig;
    case ERROR_WRITE_PROTECT:
      return Error::ReadOnlyFileSystem;
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_BUFFER_OVERFLOW:
      return Error::NameTooLong;
    case ERROR_CANT_RESOLVE_FILENAME:
      return Error::SymLinkLoop;
    case ERROR_CRC:
    case ERROR_IO_DEVICE:
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
    case ERROR_GEN_FAILURE:
      return Error::InputOutput;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return Error::PathAlreadyExists;
    case ERROR_TOO_MANY_OPEN_FILES:
      return Error::ProcessFdQuotaExceeded;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
    case ERROR_NO_SYSTEM_RESOURCES:
    case ERROR_NOT_ENOUGH_QUOTA:
    case ERROR_WORKING_SET_QUOTA:
      return Error::SystemResources;
    case ERROR_BAD_EXE_FORMAT:
    case ERROR_EXE_MACHINE_TYPE_MISMATCH:
    case ERROR_INVALID_EXE_SIGNATURE:
      return Error::InvalidExe;
    case ERROR_INVALID_HANDLE:
      return Error::NotOpenForWriting;
    case ERROR_NOT_READY:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_BAD_UNIT:
      return Error::NoDevice;
    case ERROR_NOT_SAME_DEVICE:
      return Error::CrossDevice;
    default:
      return Error::Unexpected;
  }
}

}  // namespace hushmark
