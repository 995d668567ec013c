#include "runtime/environment.h"

#include <utility>

namespace hushmark {

namespace {

Environment& processTable() {
  static Environment table;
  return table;
}

char lowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
  }
  return true;
}

}  // namespace

Result<Environment> Environment::fromEntries(std::initializer_list<std::string_view> entries) {
  ByteBuffer table;
  for (std::string_view entry : entries) {
    if (auto added = appendEntry(table, entry); !added) return fail(added.error());
  }
  return Environment(std::move(table));
}

Status Environment::appendEntry(ByteBuffer& table, std::string_view entry) {
  if (auto added = table.append(entry); !added) return added;
  return table.append('\0');
}

template <typename Match>
std::optional<std::string_view> Environment::find(Match match) const {
  std::string_view rest = entries_.view();
  while (!rest.empty()) {
    std::size_t end = rest.find('\0');
    std::string_view entry = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    // A name may not be empty, so an entry that starts with "=" (as some
    // Windows drive variables do) keeps that "=" in its name.
    std::size_t equals = entry.find('=', 1);
    std::string_view name = entry.substr(0, equals);
    if (match(name)) {
      return equals == std::string_view::npos ? std::string_view() : entry.substr(equals + 1);
    }
  }
  return std::nullopt;
}

std::optional<std::string_view> Environment::get(std::string_view name) const {
  return find([name](std::string_view candidate) { return candidate == name; });
}

bool Environment::hasIgnoringCase(std::string_view name) const {
  return find([name](std::string_view candidate) { return equalIgnoringCase(candidate, name); })
      .has_value();
}

const Environment& processEnvironment() {
  return processTable();
}

void setProcessEnvironment(Environment environment) {
  processTable() = std::move(environment);
}

}  // namespace hushmark
