// Linked into a test-only build of the program: the N-th allocation of the
// run fails, N taken from HUSHMARK_FAIL_ALLOCATION (none when unset). When
// that allocation is reached, the file named by HUSHMARK_FAIL_REACHED is
// created, so that a sweep knows when N has passed the run's last
// allocation. Covers the program's own malloc, calloc and realloc calls
// (through the linker's --wrap) and every operator new. Before the process
// ends by _Exit, which skips the leak check run at exit, the check is run
// (in a build with the sanitizers; a plain build has no leak check).
#include <fcntl.h>
#include <unistd.h>
#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include <cstddef>
#include <cstdlib>
#include <new>

extern "C" {
void* __real_malloc(std::size_t size);
void* __real_calloc(std::size_t count, std::size_t size);
void* __real_realloc(void* pointer, std::size_t size);
[[noreturn]] void __real__Exit(int status);
}

namespace {

long long failAt = -2;  // -2: not yet read; -1: never
long long seen = 0;

bool failNow() {
  if (failAt == -2) {
    const char* text = std::getenv("HUSHMARK_FAIL_ALLOCATION");
    failAt = text != nullptr ? std::atoll(text) : -1;
  }
  if (++seen != failAt) return false;
  if (const char* mark = std::getenv("HUSHMARK_FAIL_REACHED")) {
    int fd = ::open(mark, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) ::close(fd);
  }
  return true;
}

}  // namespace

extern "C" {

void* __wrap_malloc(std::size_t size) {
  return failNow() ? nullptr : __real_malloc(size);
}

void* __wrap_calloc(std::size_t count, std::size_t size) {
  return failNow() ? nullptr : __real_calloc(count, size);
}

void* __wrap_realloc(void* pointer, std::size_t size) {
  return failNow() ? nullptr : __real_realloc(pointer, size);
}

[[noreturn]] void __wrap__Exit(int status) {
#if defined(__SANITIZE_ADDRESS__)
  __lsan_do_leak_check();
#endif
  __real__Exit(status);
}

}  // extern "C"

void* operator new(std::size_t size) {
  if (failNow()) throw std::bad_alloc();
  void* pointer = __real_malloc(size == 0 ? 1 : size);
  if (pointer == nullptr) throw std::bad_alloc();
  return pointer;
}

void* operator new[](std::size_t size) {
  return operator new(size);
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return failNow() ? nullptr : __real_malloc(size == 0 ? 1 : size);
}

void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
  return operator new(size, tag);
}

void operator delete(void* pointer) noexcept {
  std::free(pointer);
}
void operator delete[](void* pointer) noexcept {
  std::free(pointer);
}
void operator delete(void* pointer, std::size_t) noexcept {
  std::free(pointer);
}
void operator delete[](void* pointer, std::size_t) noexcept {
  std::free(pointer);
}
void operator delete(void* pointer, const std::nothrow_t&) noexcept {
  std::free(pointer);
}
void operator delete[](void* pointer, const std::nothrow_t&) noexcept {
  std::free(pointer);
}
