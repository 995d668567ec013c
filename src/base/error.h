// The program-wide set of error values. Every operation returns either its
// result or one of these; the fallback error line prints the name unchanged.
#pragma once

#include <cstdint>
#include <expected>
#include <string_view>
#include <utility>

namespace hushmark {

enum class Error : std::uint8_t {
  // Front end and git bridge.
  GitCommandFailed,
  InvalidUsage,
  NameNotPartOfEnum,
  InvalidArgument,
  MissingValue,
  DoesntTakeValue,
  // Resources and streams.
  OutOfMemory,
  StreamTooLong,
  // The exclude file's lock stayed taken by another process.
  ExcludeFileLocked,
  // The file that was read is no longer the one its name leads to (another
  // program put something in its place): it is read and edited again.
  FileReplaced,
  // Platform failures of files, pipes and processes.
  FileNotFound,
  IsDir,
  NotDir,
  AccessDenied,
  BrokenPipe,
  NoSpaceLeft,
  DiskQuota,
  FileTooBig,
  ReadOnlyFileSystem,
  NameTooLong,
  SymLinkLoop,
  InputOutput,
  FileBusy,
  PathAlreadyExists,
  ProcessFdQuotaExceeded,
  SystemFdQuotaExceeded,
  SystemResources,
  InvalidExe,
  ArgumentListTooLong,
  NotOpenForWriting,
  NoDevice,
  // Another process holds the file open in a way that excludes this use
  // (Windows).
  SharingViolation,
  // Bytes that do not convert to the platform's UTF-16 text (Windows).
  InvalidWtf8,
  // A file of a kind that the program does not read or write (a FIFO, a
  // socket).
  UnsupportedFileType,
  // A rename between two file systems, which the system cannot do in one
  // step.
  CrossDevice,
  // A size or an offset that the system's types cannot hold (a file too
  // large for a system without 64-bit file offsets).
  ValueTooLarge,
  Unexpected,
};

// The CamelCase name of an error, as the fallback error line shows it.
std::string_view errorName(Error error);

// Maps an error code of the operating system (errno on POSIX, GetLastError
// on Windows) onto the error set. Codes with no closer match become
// Unexpected.
Error errorFromSystem(int code);

// A result or the error that stands in its place. Must be used: a result
// that is thrown away unread compiles with a warning, which the build makes
// an error.
template <typename T>
class [[nodiscard]] Result : public std::expected<T, Error> {
 public:
  using std::expected<T, Error>::expected;
  Result(const std::expected<T, Error>& other) : std::expected<T, Error>(other) {}
  Result(std::expected<T, Error>&& other) : std::expected<T, Error>(std::move(other)) {}
};

using Status = Result<void>;

inline std::unexpected<Error> fail(Error error) {
  return std::unexpected(error);
}

}  // namespace hushmark
