#include "base/error.h"

namespace hushmark {

std::string_view errorName(Error error) {
  switch (error) {
    case Error::GitCommandFailed:
      return "GitCommandFailed";
    case Error::InvalidUsage:
      return "InvalidUsage";
    case Error::NameNotPartOfEnum:
      return "NameNotPartOfEnum";
    case Error::InvalidArgument:
      return "InvalidArgument";
    case Error::MissingValue:
      return "MissingValue";
    case Error::DoesntTakeValue:
      return "DoesntTakeValue";
    case Error::OutOfMemory:
      return "OutOfMemory";
    case Error::StreamTooLong:
      return "StreamTooLong";
    case Error::ExcludeFileLocked:
      return "ExcludeFileLocked";
    case Error::FileReplaced:
      return "FileReplaced";
    case Error::FileNotFound:
      return "FileNotFound";
    case Error::IsDir:
      return "IsDir";
    case Error::NotDir:
      return "NotDir";
    case Error::AccessDenied:
      return "AccessDenied";
    case Error::BrokenPipe:
      return "BrokenPipe";
    case Error::NoSpaceLeft:
      return "NoSpaceLeft";
    case Error::DiskQuota:
      return "DiskQuota";
    case Error::FileTooBig:
      return "FileTooBig";
    case Error::ReadOnlyFileSystem:
      return "ReadOnlyFileSystem";
    case Error::NameTooLong:
      return "NameTooLong";
    case Error::SymLinkLoop:
      return "SymLinkLoop";
    case Error::InputOutput:
      return "InputOutput";
    case Error::FileBusy:
      return "FileBusy";
    case Error::PathAlreadyExists:
      return "PathAlreadyExists";
    case Error::ProcessFdQuotaExceeded:
      return "ProcessFdQuotaExceeded";
    case Error::SystemFdQuotaExceeded:
      return "SystemFdQuotaExceeded";
    case Error::SystemResources:
      return "SystemResources";
    case Error::InvalidExe:
      return "InvalidExe";
    case Error::ArgumentListTooLong:
      return "ArgumentListTooLong";
    case Error::NotOpenForWriting:
      return "NotOpenForWriting";
    case Error::NoDevice:
      return "NoDevice";
    case Error::SharingViolation:
      return "SharingViolation";
    case Error::InvalidWtf8:
      return "InvalidWtf8";
    case Error::UnsupportedFileType:
      return "UnsupportedFileType";
    case Error::CrossDevice:
      return "CrossDevice";
    case Error::ValueTooLarge:
      return "ValueTooLarge";
    case Error::Unexpected:
      return "Unexpected";
  }
  return "Unexpected";
}

}  // namespace hushmark
