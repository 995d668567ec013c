// The file primitives on Windows: paths with either separator, drive and
// share roots, and the same error names as elsewhere.
#include <windows.h>

#include "files/file.h"
#include "files/windows_file.h"
#include "files/windows_file_data.h"
#include "files/windows_path.h"

namespace hushmark {

const bool windowsFilePaths = true;

namespace {

std::unexpected<Error> failFromLastError() {
  return fail(errorFromSystem(static_cast<int>(::GetLastError())));
}

// Opens what `path` names for a look at it, a directory included.
Result<File> inspect(std::string_view path) {
  return openFile(path, FILE_READ_ATTRIBUTES, shareAll, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
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
  // The 64-bit index is not unique on ReFS, whose file IDs have 128 bits.
  FILE_ID_INFO id{};
  std::optional<std::uint64_t> volume;
  if (::GetFileInformationByHandleEx(file.handle(), FileIdInfo, &id, sizeof id)) {
    volume = id.VolumeSerialNumber;
  }
  FileIdentity index{information.dwVolumeSerialNumber,
                     (std::uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow};
  return FileStatus{
      .kind = directory ? FileKind::Directory : FileKind::Regular,
      .identity = identityFromFileId(
          volume, std::span<const unsigned char, 16>(id.FileId.Identifier), index),
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
  auto file = openFile(path, GENERIC_READ, shareAll, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
  if (!file) return file;
  auto status = statusOf(*file);
  if (!status) return fail(status.error());
  if (status->kind == FileKind::Pipe) return fail(Error::UnsupportedFileType);
  if (status->kind == FileKind::Directory) return fail(Error::IsDir);
  return file;
}

Result<File> openForUpdate(std::string_view path) {
  return openFile(path, GENERIC_READ | GENERIC_WRITE, shareAll, OPEN_EXISTING);
}

Result<File> openOrCreateForUpdate(std::string_view path) {
  return openFile(path, GENERIC_READ | GENERIC_WRITE, shareAll, OPEN_ALWAYS);
}

Result<File> openDeviceForWriting(std::string_view path) {
  return openFile(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
}

Result<File> createExclusive(std::string_view path, bool ownerOnly) {
  OwnerOnly protection;
  if (ownerOnly) {
    if (auto made = protection.make(); !made) return fail(made.error());
  }
  return openFile(path, GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
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
