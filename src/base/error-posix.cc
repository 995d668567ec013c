// errno values onto the program's error set.
#include <cerrno>

#include "base/error.h"

namespace hushmark {

Error errorFromSystem(int code) {
  switch (code) {
    case ENOENT:
      return Error::FileNotFound;
    case EISDIR:
      return Error::IsDir;
    case ENOTDIR:
      return Error::NotDir;
    case EACCES:
    case EPERM:
      return Error::AccessDenied;
    case EPIPE:
      return Error::BrokenPipe;
    case ENOSPC:
      return Error::NoSpaceLeft;
    case EDQUOT:
      return Error::DiskQuota;
    case EFBIG:
      return Error::FileTooBig;
    case EROFS:
      return Error::ReadOnlyFileSystem;
    case ENAMETOOLONG:
      return Error::NameTooLong;
    case ELOOP:
      return Error::SymLinkLoop;
    case EIO:
      return Error::InputOutput;
    case EBUSY:
    case ETXTBSY:
      return Error::FileBusy;
    case EEXIST:
      return Error::PathAlreadyExists;
    case EMFILE:
      return Error::ProcessFdQuotaExceeded;
    case ENFILE:
      return Error::SystemFdQuotaExceeded;
    case EAGAIN:
    case ENOMEM:
      return Error::SystemResources;
    case ENOEXEC:
      return Error::InvalidExe;
    case E2BIG:
      return Error::ArgumentListTooLong;
    case EBADF:
      return Error::NotOpenForWriting;
    case EXDEV:
      return Error::CrossDevice;
    case EOVERFLOW:
      return Error::ValueTooLarge;
    case ENODEV:
    case ENXIO:
      return Error::NoDevice;
    default:
      return Error::Unexpected;
  }
}

}  // namespace hushmark
