// A growable, owned byte buffer whose growth reports allocation failure as a
// value instead of throwing. Used for everything the program reads, captures
// or composes: git's output, the exclude file, new file content, messages.
#pragma once

#include <cstddef>
#include <string_view>

#include "base/error.h"

namespace hushmark {

class ByteBuffer {
 public:
  ByteBuffer() = default;
  ~ByteBuffer();
  ByteBuffer(ByteBuffer&& other) noexcept;
  ByteBuffer& operator=(ByteBuffer&& other) noexcept;
  ByteBuffer(const ByteBuffer&) = delete;
  ByteBuffer& operator=(const ByteBuffer&) = delete;

  // Makes room for at least `extra` more bytes beyond the current length.
  Status reserveExtra(std::size_t extra);
  Status append(std::string_view bytes);
  Status append(char byte) { return append(std::string_view(&byte, 1)); }

  // The unused room behind the content, for reading straight into the
  // buffer; `commit` then counts the bytes that were filled in.
  char* spare() { return data_ + size_; }
  std::size_t spareSize() const { return capacity_ - size_; }
  void commit(std::size_t count) { size_ += count; }

  // Gives back the room beyond the content.
  Status shrinkToFit();
  void clear() { size_ = 0; }
  // Drops the first `count` bytes, moving the rest to the front.
  void dropFront(std::size_t count);

  std::string_view view() const { return {data_, size_}; }
  const char* data() const { return data_; }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace hushmark
