#include "base/buffer.h"

#include <cstdlib>
#include <cstring>
#include <utility>

namespace hushmark {

ByteBuffer::~ByteBuffer() {
  std::free(data_);
}

ByteBuffer::ByteBuffer(ByteBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)) {}

ByteBuffer& ByteBuffer::operator=(ByteBuffer&& other) noexcept {
  if (this != &other) {
    std::free(data_);
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
  }
  return *this;
}

Status ByteBuffer::reserveExtra(std::size_t extra) {
  if (capacity_ - size_ >= extra) return {};
  if (extra > SIZE_MAX / 2 - size_) return fail(Error::OutOfMemory);
  std::size_t wanted = size_ + extra;
  std::size_t grown = capacity_ < 64 ? 64 : capacity_ + capacity_ / 2;
  std::size_t capacity = grown > wanted ? grown : wanted;
  void* moved = std::realloc(data_, capacity);
  if (moved == nullptr) return fail(Error::OutOfMemory);
  data_ = static_cast<char*>(moved);
  capacity_ = capacity;
  return {};
}

Status ByteBuffer::append(std::string_view bytes) {
  if (bytes.empty()) return {};
  if (auto room = reserveExtra(bytes.size()); !room) return room;
  std::memcpy(data_ + size_, bytes.data(), bytes.size());
  size_ += bytes.size();
  return {};
}

void ByteBuffer::dropFront(std::size_t count) {
  if (count >= size_) {
    size_ = 0;
    return;
  }
  std::memmove(data_, data_ + count, size_ - count);
  size_ -= count;
}

Status ByteBuffer::shrinkToFit() {
  if (size_ == capacity_) return {};
  if (size_ == 0) {
    std::free(data_);
    data_ = nullptr;
    capacity_ = 0;
    return {};
  }
  void* moved = std::realloc(data_, size_);
  if (moved == nullptr) return fail(Error::OutOfMemory);
  data_ = static_cast<char*>(moved);
  capacity_ = size_;
  return {};
}

}  // namespace hushmark
