#include <unistd.h>

#include "runtime/environment.h"

extern char** environ;

namespace hushmark {

Result<Environment> Environment::capture() {
  ByteBuffer table;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    if (auto added = appendEntry(table, *entry); !added) return fail(added.error());
  }
  return Environment(std::move(table));
}

}  // namespace hushmark
