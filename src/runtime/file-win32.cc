// The file primitives on Windows: paths with either separator, drive and
// share roots, and the same error names as elsewhere.
#include <windows.h>
#include <winioctl.h>

#include <cstring>

#include "runtime/file.h"
#include "runtime/windows_path.h"
#include "runtime/wtf8.h"

namespace hushmark {

namespace {

// A path as the system calls take it: a long one in its "\\?\" form (see
// appendFileSystemPath). A "\\?\" path is handed to the file system as it
// stands, where "/" separates nothing: it becomes "\".
class WidePath {
 public:
  static Result<WidePath> from(std::string_view path) {
    WidePath wide;
    if (!path.starts_with("\\\\?\\")) {
      if (auto added = appendFileSystemPath(wide.text_, path); !added) return fail(added.error());
      return wide;
    }
    for (;;) {
      std::size_t slash = path.find('/');
      if (auto added = wide.text_.appendWtf8(path.substr(0, slash)); !added) {
        return fail(added.error());
      }
      if (slash == std::string_view::npos) return wide;
      if (auto added = wide.text_.append(u'\\'); !added) return fail(added.error());
      path.remove_prefix(slash + 1);
    }
  }
  const wchar_t* get() const { return reinterpret_cast<const wchar_t*>(text_.c_str()); }

 private:
  Utf16Text text_;
};

bool isMissing(DWORD code) {
  return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ||
         code == ERROR_BAD_NETPATH || code == ERROR_BAD_NET_NAME || code == ERROR_INVALID_DRIVE;
}

DWORD attributesOf(std::string_view path) {
  auto wide = WidePath::from(path);
  if (!wide) return INVALID_FILE_ATTRIBUTES;
  return ::GetFileAttributesW(wide->get());
}

bool isDirectory(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The error for a failed operation on `path`, named as on other platforms:
// a missing directory on the way is FileNotFound unless a file stands where
// a directory should be (NotDir); a refusal on a directory is IsDir.
Error fileError(DWORD code, std::string_view path) {
  if (isMissing(code) || code == ERROR_DIRECTORY) {
    for (std::string_view directory = windowsDirectoryPart(path);
         !directory.empty() && directory.size() < path.size();
         path = directory, directory = windowsDirectoryPart(directory)) {
      DWORD attributes = attributesOf(directory);
      if (attributes == INVALID_FILE_ATTRIBUTES) continue;
      if (!isDirectory(attributes)) return Error::NotDir;
      break;
    }
  }
  if (code == ERROR_ACCESS_DENIED && isDirectory(attributesOf(path))) return Error::IsDir;
  return errorFromSystem(static_cast<int>(code));
}

std::unexpected<Error> failFromLastError() {
  return fail(errorFromSystem(static_cast<int>(::GetLastError())));
}

constexpr DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

Result<File> open(std::string_view path, DWORD access, DWORD share, DWORD disposition,
                  DWORD flags = FILE_ATTRIBUTE_NORMAL, SECURITY_ATTRIBUTES* security = nullptr) {
  auto wide = WidePath::from(path);
  if (!wide) return fail(wide.error());
  HANDLE handle = ::CreateFileW(wide->get(), access, share, security, disposition, flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return fail(fileError(::GetLastError(), path));
  return File(handle);
}

// Opens what `path` names for a look at it, a directory included.
Result<File> inspect(std::string_view path) {
  return open(path, FILE_READ_ATTRIBUTES, shareAll, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
}

// A file's protection that lets its owner alone in.
class OwnerOnly {
 public:
  Status make() {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return failFromLastError();
    DWORD size = 0;
    BOOL got = ::GetTokenInformation(token, TokenUser, user_, sizeof user_, &size);
    ::CloseHandle(token);
    if (!got) return failFromLastError();
    PSID sid = reinterpret_cast<TOKEN_USER*>(user_)->User.Sid;
    auto* acl = reinterpret_cast<ACL*>(acl_);
    if (!::InitializeAcl(acl, sizeof acl_, ACL_REVISION) ||
        !::AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, sid) ||
        !::InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
        !::SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) ||
        !::SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
      return failFromLastError();
    }
    attributes_ = {sizeof attributes_, &descriptor_, FALSE};
    return {};
  }
  SECURITY_ATTRIBUTES* get() { return &attributes_; }

 private:
  alignas(8) unsigned char user_[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)]{};
  alignas(8) unsigned char acl_[sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE]{};
  SECURITY_DESCRIPTOR descriptor_{};
  SECURITY_ATTRIBUTES attributes_{};
};

}  // namespace

void File::close(NativeFile handle) {
  ::CloseHandle(handle);
}

Status closeFile(File& file) {
  if (!file.isOpen()) return {};
  if (!::CloseHandle(file.release())) return failFromLastError();
  return {};
}

Result<FileStatus> statusOf(const File& file) {
  DWORD type = ::GetFileType(file.handle());
  FileStatus status;
  if (type != FILE_TYPE_DISK) {
    status.kind = type == FILE_TYPE_PIPE ? FileKind::Pipe : FileKind::Device;
    return status;
  }
  BY_HANDLE_FILE_INFORMATION information;
  if (!::GetFileInformationByHandle(file.handle(), &information)) return failFromLastError();
  bool directory = (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  return FileStatus{
      .kind = directory ? FileKind::Directory : FileKind::Regular,
      .identity = {information.dwVolumeSerialNumber,
                   (std::uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow},
      .size = (std::uint64_t{information.nFileSizeHigh} << 32) | information.nFileSizeLow,
      .links = information.nNumberOfLinks};
}

Result<std::optional<FileStatus>> statusOf(std::string_view path) {
  auto file = inspect(path);
  if (!file) {
    if (file.error() == Error::FileNotFound || file.error() == Error::NotDir) return std::nullopt;
    return fail(file.error());
  }
  auto status = statusOf(*file);
  if (!status) return fail(status.error());
  return std::optional<FileStatus>(*status);
}

Result<File> openForReading(std::string_view path) {
  // Backup semantics lets a directory be opened, so that it is told apart.
  auto file = open(path, GENERIC_READ, shareAll, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
  if (!file) return file;
  auto status = statusOf(*file);
  if (!status) return fail(status.error());
  if (status->kind == FileKind::Pipe) return fail(Error::UnsupportedFileType);
  if (status->kind == FileKind::Directory) return fail(Error::IsDir);
  return file;
}

Result<File> openForUpdate(std::string_view path) {
  return open(path, GENERIC_READ | GENERIC_WRITE, shareAll, OPEN_EXISTING);
}

Result<File> openOrCreateForUpdate(std::string_view path) {
  return open(path, GENERIC_READ | GENERIC_WRITE, shareAll, OPEN_ALWAYS);
}

Result<File> openDeviceForWriting(std::string_view path) {
  return open(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
}

Result<File> createExclusive(std::string_view path, bool ownerOnly) {
  OwnerOnly protection;
  if (ownerOnly) {
    if (auto made = protection.make(); !made) return fail(made.error());
  }
  return open(path, GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
              ownerOnly ? protection.get() : nullptr);
}

std::uint64_t sizeHint(const File& file) {
  auto status = statusOf(file);
  return status && status->kind == FileKind::Regular ? status->size : 0;
}

Result<std::size_t> readSome(const File& file, char* into, std::size_t capacity) {
  DWORD want = capacity < 0x40000000 ? static_cast<DWORD>(capacity) : 0x40000000;
  DWORD got = 0;
  if (!::ReadFile(file.handle(), into, want, &got, nullptr)) {
    DWORD code = ::GetLastError();
    if (code == ERROR_HANDLE_EOF || code == ERROR_BROKEN_PIPE) return 0;
    return fail(errorFromSystem(static_cast<int>(code)));
  }
  return got;
}

Result<std::size_t> readAt(const File& file, std::uint64_t offset, char* into,
                           std::size_t capacity) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD want = capacity < 0x40000000 ? static_cast<DWORD>(capacity) : 0x40000000;
  DWORD got = 0;
  if (!::ReadFile(file.handle(), into, want, &got, &at)) {
    if (::GetLastError() == ERROR_HANDLE_EOF) return 0;
    return failFromLastError();
  }
  return got;
}

Status writeAt(const File& file, std::string_view bytes, std::uint64_t offset) {
  while (!bytes.empty()) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD want = bytes.size() < 0x40000000 ? static_cast<DWORD>(bytes.size()) : 0x40000000;
    DWORD wrote = 0;
    if (!::WriteFile(file.handle(), bytes.data(), want, &wrote, &at)) return failFromLastError();
    bytes.remove_prefix(wrote);
    offset += wrote;
  }
  return {};
}

Status truncateFile(const File& file, std::uint64_t size) {
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
  if (!::SetFileInformationByHandle(file.handle(), FileEndOfFileInfo, &end, sizeof end)) {
    return failFromLastError();
  }
  return {};
}

Result<std::uint64_t> copyInSystem(const File&, std::uint64_t, const File&, std::uint64_t,
                                   std::uint64_t) {
  return 0;
}

Status renameOver(std::string_view from, std::string_view to) {
  auto source = WidePath::from(from);
  if (!source) return fail(source.error());
  auto target = WidePath::from(to);
  if (!target) return fail(target.error());
  if (!::MoveFileExW(source->get(), target->get(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return fail(fileError(::GetLastError(), to));
  }
  return {};
}

void removeFile(std::string_view path) {
  if (auto wide = WidePath::from(path)) ::DeleteFileW(wide->get());
}

// The target of a symbolic link as the link stores it; the system answers
// only for a link it can open as such.
Result<std::optional<ByteBuffer>> readSymbolicLink(std::string_view path) {
  DWORD attributes = attributesOf(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    return std::nullopt;
  }
  auto link = open(path, 0, shareAll, OPEN_EXISTING,
                   FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS);
  if (!link) return std::nullopt;
  ByteBuffer data;
  if (auto reserved = data.reserveExtra(MAXIMUM_REPARSE_DATA_BUFFER_SIZE); !reserved) {
    return fail(reserved.error());
  }
  DWORD got = 0;
  if (!::DeviceIoControl(link->handle(), FSCTL_GET_REPARSE_POINT, nullptr, 0, data.spare(),
                         MAXIMUM_REPARSE_DATA_BUFFER_SIZE, &got, nullptr)) {
    return std::nullopt;
  }
  // The symbolic-link layout: tag, lengths, then the names at offsets into
  // the path buffer, which begins after a flags field.
  struct Layout {
    DWORD tag;
    WORD dataLength, reserved, substituteOffset, substituteLength, printOffset, printLength;
    ULONG flags;
  };
  Layout header;
  if (got < sizeof header) return std::nullopt;
  std::memcpy(&header, data.spare(), sizeof header);
  if (header.tag != IO_REPARSE_TAG_SYMLINK ||
      sizeof header + header.printOffset + header.printLength > got) {
    return std::nullopt;
  }
  std::u16string_view name(
      reinterpret_cast<const char16_t*>(data.spare() + sizeof header + header.printOffset),
      header.printLength / 2);
  ByteBuffer target;
  if (auto added = appendWtf8(target, name); !added) return fail(added.error());
  return std::optional<ByteBuffer>(std::move(target));
}

std::size_t pathRootLength(std::string_view path) {
  return windowsRootLength(path);
}

bool isPathSeparator(char c) {
  return isWindowsSeparator(c);
}

std::string_view directoryPart(std::string_view path) {
  return windowsDirectoryPart(path);
}

Status createDirectory(std::string_view path) {
  auto wide = WidePath::from(path);
  if (!wide) return fail(wide.error());
  if (!::CreateDirectoryW(wide->get(), nullptr)) return fail(fileError(::GetLastError(), path));
  return {};
}

}  // namespace hushmark
