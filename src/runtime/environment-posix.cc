#include "runtime/environ-posix.h"
#include "runtime/environment.h"

namespace hushmark {

const bool Environment::namesIgnoreCase = false;

Result<Environment> Environment::capture() {
  ByteBuffer table;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    if (auto added = appendEntry(table, *entry); !added) return fail(added.error());
  }
  return Environment(std::move(table));
}

}  // namespace hushmark
