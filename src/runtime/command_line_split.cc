#include "runtime/command_line_split.h"

#include "base/wtf8.h"

namespace hushmark {

namespace {

bool isBlank(char16_t unit) {
  return unit == u' ' || unit == u'\t';
}

// Walks the command line and hands each word's units to `sink.unit`,
// calling `sink.endWord` after each word.
template <typename Sink>
void splitWords(std::u16string_view line, Sink& sink) {
  std::size_t i = 0;
  bool quoted = false;
  for (; i < line.size() && (quoted || !isBlank(line[i])); ++i) {
    if (line[i] == u'"') {
      quoted = !quoted;
    } else {
      sink.unit(line[i]);
    }
  }
  sink.endWord();

  for (;;) {
    while (i < line.size() && isBlank(line[i])) ++i;
    if (i == line.size()) return;
    quoted = false;
    for (;;) {
      std::size_t backslashes = 0;
      for (; i < line.size() && line[i] == u'\\'; ++i) ++backslashes;
      if (i < line.size() && line[i] == u'"') {
        for (std::size_t k = 0; k < backslashes / 2; ++k) sink.unit(u'\\');
        if (backslashes % 2 == 1) {
          sink.unit(u'"');
          ++i;
        } else if (quoted && i + 1 < line.size() && line[i + 1] == u'"') {
          sink.unit(u'"');
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
        continue;
      }
      for (std::size_t k = 0; k < backslashes; ++k) sink.unit(u'\\');
      if (i == line.size() || (!quoted && isBlank(line[i]))) break;
      sink.unit(line[i++]);
    }
    sink.endWord();
  }
}

// Counts the words and the bytes of their WTF-8 forms with their NULs, or
// writes them and their pointers.
class WordSink {
 public:
  WordSink(char** pointers, char* text) : pointers_(pointers), text_(text), encoder_(text) {}

  void unit(char16_t unit) { encoder_.unit(unit); }
  void endWord() {
    if (text_ != nullptr) pointers_[words_] = text_ + wordStart_;
    // The NUL goes through the encoder too, which writes out a lead
    // surrogate still held back first.
    encoder_.unit(u'\0');
    wordStart_ = encoder_.length();
    ++words_;
  }

  std::size_t words() const { return words_; }
  std::size_t bytes() const { return encoder_.length(); }

 private:
  char** pointers_;
  char* text_;
  Wtf8Encoder encoder_;
  std::size_t words_ = 0;
  std::size_t wordStart_ = 0;
};

}  // namespace

Result<CommandLineArgs> CommandLineArgs::split(std::u16string_view line) {
  WordSink counter(nullptr, nullptr);
  splitWords(line, counter);

  CommandLineArgs result;
  std::size_t pointerBytes = (counter.words() + 1) * sizeof(char*);
  if (auto room = result.block_.reserveExtra(pointerBytes + counter.bytes()); !room) {
    return fail(room.error());
  }
  char** pointers = reinterpret_cast<char**>(result.block_.spare());
  WordSink writer(pointers, result.block_.spare() + pointerBytes);
  splitWords(line, writer);
  pointers[writer.words()] = nullptr;
  result.block_.commit(pointerBytes + writer.bytes());
  result.count_ = writer.words();
  return result;
}

}  // namespace hushmark
