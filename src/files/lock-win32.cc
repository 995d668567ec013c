// Locks on Windows: a named mutex for each file or directory, named by the
// file's identity, so that every name of it reaches the same one. The
// system gives it back when the process ends, and it leaves nothing on
// disk.
#include <windows.h>

#include "files/lock.h"
#include "files/lock_name.h"

namespace hushmark {

namespace {

constexpr DWORD lockAccess = SYNCHRONIZE | MUTEX_MODIFY_STATE;

// Every signed-in user may wait for and give back the mutex (and nobody may
// do more with it), so that the users of a shared repository take turns.
class SharedByUsers {
 public:
  Status make() {
    DWORD size = sizeof sid_;
    auto* acl = reinterpret_cast<ACL*>(acl_);
    if (!::CreateWellKnownSid(WinAuthenticatedUserSid, nullptr, sid_, &size) ||
        !::InitializeAcl(acl, sizeof acl_, ACL_REVISION) ||
        !::AddAccessAllowedAce(acl, ACL_REVISION, lockAccess, sid_) ||
        !::InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
        !::SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE)) {
      return fail(errorFromSystem(static_cast<int>(::GetLastError())));
    }
    attributes_ = {sizeof attributes_, &descriptor_, FALSE};
    return {};
  }
  SECURITY_ATTRIBUTES* get() { return &attributes_; }

 private:
  alignas(8) unsigned char sid_[SECURITY_MAX_SID_SIZE]{};
  alignas(8) unsigned char acl_[sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE]{};
  SECURITY_DESCRIPTOR descriptor_{};
  SECURITY_ATTRIBUTES attributes_{};
};

// Opens the mutex of that name, or creates it when no process has it.
// nullptr otherwise, with the system's error: ERROR_ACCESS_DENIED where the
// namespace takes no new object from this user; ERROR_INVALID_HANDLE where
// the name is held by something that cannot serve as this lock (an object
// of another kind, or a mutex whose access list shuts this user out).
HANDLE openOrCreate(const char16_t* text, SECURITY_ATTRIBUTES* security) {
  const auto* name = reinterpret_cast<const wchar_t*>(text);
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (HANDLE mutex = ::OpenMutexW(lockAccess, FALSE, name)) return mutex;
    if (::GetLastError() == ERROR_ACCESS_DENIED) {
      ::SetLastError(ERROR_INVALID_HANDLE);
      return nullptr;
    }
    if (HANDLE mutex = ::CreateMutexW(security, FALSE, name)) return mutex;
    // Made by another process between the two calls, with no more access
    // than the open asks for.
    if (::GetLastError() != ERROR_ACCESS_DENIED) return nullptr;
  }
  return nullptr;
}

}  // namespace

void LockHandle::release(NativeFile handle, bool held) {
  if (held) ::ReleaseMutex(handle);
  ::CloseHandle(handle);
}

Result<std::optional<LockTarget>> openLock(std::string_view path) {
  auto status = statusOf(path.empty() ? std::string_view(".") : path);
  if (!status) {
    // What may not be looked at: go on without a lock.
    if (status.error() == Error::AccessDenied) return LockTarget();
    return fail(status.error());
  }
  if (!*status) return std::nullopt;
  SharedByUsers security;
  if (auto made = security.make(); !made) return fail(made.error());
  // Global, so that runs in other sessions see it too.
  LockName global(u"Global\\", (*status)->identity);
  HANDLE mutex = openOrCreate(global.get(), security.get());
  if (mutex == nullptr && ::GetLastError() == ERROR_ACCESS_DENIED) {
    // Where the global namespace is closed to this user, runs in the same
    // session still take turns.
    LockName local(u"Local\\", (*status)->identity);
    mutex = openOrCreate(local.get(), security.get());
  }
  if (mutex == nullptr) {
    DWORD code = ::GetLastError();
    if (code == ERROR_ACCESS_DENIED) return LockTarget();
    // Another process keeps the lock from being taken.
    if (code == ERROR_INVALID_HANDLE) return fail(Error::ExcludeFileLocked);
    return fail(errorFromSystem(static_cast<int>(code)));
  }
  return LockTarget{LockHandle(mutex), (*status)->identity, true};
}

Result<LockAttempt> tryLock(LockHandle& lock) {
  // A run that ended while holding it leaves it abandoned, which is as
  // good as given back.
  switch (::WaitForSingleObject(lock.handle(), 0)) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED:
      return LockAttempt::Taken;
    case WAIT_TIMEOUT:
      return LockAttempt::Busy;
    default:
      return fail(errorFromSystem(static_cast<int>(::GetLastError())));
  }
}

}  // namespace hushmark
