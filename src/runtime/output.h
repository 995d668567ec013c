// How text reaches the standard streams and files: complete writes, with no
// buffer held across operations, so ending the process never loses output.
#pragma once

#include <cstddef>
#include <string_view>

#include "base/error.h"
#include "base/native_file.h"

namespace hushmark {

NativeFile standardOutput();
NativeFile standardError();

// Hands every byte to the operating system, looping over partial writes;
// on a non-blocking stream that is full it waits until the stream takes
// more. An empty text makes no system call.
Status writeAll(NativeFile file, std::string_view bytes);

// A small fixed buffer in front of `writeAll`, for the two texts that are
// produced piece by piece: the parse diagnostic and the fallback error line.
// It writes out when full (never inside a multi-byte sequence) and on
// `flush`; the first failed write is kept and later pieces are dropped.
class BufferedWriter {
 public:
  BufferedWriter(NativeFile file, char* storage, std::size_t capacity)
      : file_(file), storage_(storage), capacity_(capacity) {}

  void write(std::string_view bytes);
  Status flush();

 private:
  NativeFile file_;
  char* storage_;
  std::size_t capacity_;
  std::size_t used_ = 0;
  Status status_;
};

}  // namespace hushmark
