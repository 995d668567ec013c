#include <unistd.h>

#include <cstring>

#include "runtime/environment.h"

extern char** environ;

namespace hushmark {

Result<Environment> Environment::capture() {
  ByteBuffer table;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    std::string_view text(*entry, std::strlen(*entry));
    if (auto added = table.append(text); !added) return fail(added.error());
    if (auto added = table.append('\0'); !added) return fail(added.error());
  }
  return Environment(std::move(table));
}

}  // namespace hushmark
