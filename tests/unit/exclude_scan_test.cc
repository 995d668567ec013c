// The piecewise scan of the exclude file must find exactly the lines that
// the whole-content line model finds, wherever the pieces happen to be cut,
// for hide and for unhide.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "exclude/exclude_file.h"
#include "exclude/lines.h"
#include "exclude/patterns.h"
#include "exclude/removal.h"

namespace hushmark {
namespace {

class ScratchFile {
 public:
  explicit ScratchFile(const std::string& content) {
    char pattern[] = "/tmp/hushmark-scan-XXXXXX";
    int fd = ::mkstemp(pattern);
    EXPECT_GE(fd, 0);
    path_ = pattern;
    std::size_t done = 0;
    while (done < content.size()) {
      ssize_t written = ::write(fd, content.data() + done, content.size() - done);
      if (written <= 0) break;
      done += static_cast<std::size_t>(written);
    }
    ::close(fd);
  }
  ~ScratchFile() { ::unlink(path_.c_str()); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

struct ScanOutcome {
  std::string missing;  // what hide would append
  ExcludeFileScan summary;
  std::string seen;  // every piece, joined
};

ScanOutcome scanFile(const std::string& content, const std::vector<std::string_view>& patterns) {
  ScratchFile file(content);
  auto opened = openExcludeFile(file.path());
  EXPECT_TRUE(opened && *opened);
  auto scan = PresenceScan::make(patterns);
  EXPECT_TRUE(scan);
  ScanOutcome outcome;
  auto summary = scanExcludeFile(**opened, [&](std::string_view lines) {
    // Every piece but the last ends with a line feed.
    if (!outcome.seen.empty()) {
      EXPECT_EQ(outcome.seen.back(), '\n');
    }
    outcome.seen += lines;
    scan->scan(lines);
    return true;
  });
  EXPECT_TRUE(summary);
  outcome.summary = *summary;
  ByteBuffer missing;
  EXPECT_TRUE(scan->appendMissing(missing));
  outcome.missing = std::string(missing.view());
  return outcome;
}

RemovalScan scanRemoval(const std::string& content, const std::vector<std::string_view>& patterns,
                        std::size_t maxRanges) {
  ScratchFile file(content);
  auto opened = openExcludeFile(file.path());
  EXPECT_TRUE(opened && *opened);
  auto scan = PresenceScan::make(patterns);
  EXPECT_TRUE(scan);
  auto removal = scanForRemoval(**opened, *scan, maxRanges);
  EXPECT_TRUE(removal);
  return std::move(*removal);
}

// What hide must append, computed the plain way.
std::string expectedMissing(const std::string& content,
                            const std::vector<std::string_view>& patterns) {
  std::set<std::string> lines;
  ExcludeLineIterator iterator(content);
  while (auto line = iterator.next()) lines.emplace(patternOfLine(*line));
  std::string missing;
  for (std::string_view argument : patterns) {
    std::istringstream pieces{std::string(argument)};
    for (std::string piece; std::getline(pieces, piece);) {
      std::string pattern(normalizePattern(piece));
      if (pattern.empty() || lines.contains(pattern)) continue;
      lines.insert(pattern);
      missing += pattern + "\n";
    }
  }
  return missing;
}

TEST(ExcludeScan, LinesAcrossPieceBoundariesAndLongLines) {
  // Lines straddle the reader's pieces, one line is longer than a piece,
  // and the matches sit right at the start, in the middle and at the end.
  std::string longLine(700 * 1024, 'x');
  std::string content = "first\n";
  for (int i = 0; i < 40000; ++i) content += "entry-" + std::to_string(i) + "\r\n";
  content += longLine + "\n" + "middle  \r\n";
  for (int i = 0; i < 40000; ++i) content += "more-" + std::to_string(i) + "\n";
  content += "last";
  std::vector<std::string_view> patterns = {"first",  "middle", "last",    longLine, "entry-39999",
                                            "more-0", "absent", "entry-4", "ntry-5", "more-39999x"};
  ScanOutcome outcome = scanFile(content, patterns);
  EXPECT_EQ(outcome.seen, content);
  EXPECT_EQ(outcome.missing, "absent\nntry-5\nmore-39999x\n");
  EXPECT_TRUE(outcome.summary.complete);
  EXPECT_FALSE(outcome.summary.writtenForm);
  EXPECT_EQ(outcome.summary.size, content.size());
}

TEST(ExcludeScan, WrittenFormIsKnownOnlyForLfEndedLinesWithoutCr) {
  struct Case {
    std::string content;
    bool writtenForm;
  } cases[] = {
      {"a\nb\n", true}, {"a\nb", false}, {"a\r\nb\n", false}, {"a\rb\n", true},
      {"a\n\r", false}, {"\n", true},    {"a\r", false},
  };
  for (const Case& c : cases) {
    ScanOutcome outcome = scanFile(c.content, {"zzz"});
    EXPECT_EQ(outcome.summary.writtenForm, c.writtenForm) << c.content;
    EXPECT_EQ(outcome.summary.writtenForm, inWrittenForm(c.content)) << c.content;
  }
}

TEST(ExcludeScan, AgreesWithTheLineModelOnRandomFiles) {
  std::mt19937 random(12345);
  const char alphabet[] = {'a', 'b', ' ', '\t', '\r', '\n', '#'};
  for (int round = 0; round < 200; ++round) {
    std::string content;
    std::size_t length = random() % (round % 10 == 0 ? 600000 : 200);
    for (std::size_t i = 0; i < length; ++i) content += alphabet[random() % sizeof alphabet];
    // Every other file in written form, which unhide edits by the stretches
    // it keeps.
    if (round % 2 == 1) {
      std::erase(content, '\r');
      content += '\n';
    }
    std::vector<std::string> owned;
    for (int i = 0; i < 12; ++i) {
      std::string pattern;
      std::size_t patternLength = random() % 5;
      for (std::size_t j = 0; j < patternLength; ++j)
        pattern += alphabet[random() % sizeof alphabet];
      owned.push_back(pattern);
    }
    // A few patterns (searched one by one) and many (looked up by line).
    for (std::size_t count : {std::size_t{3}, owned.size()}) {
      std::vector<std::string_view> patterns(owned.begin(),
                                             owned.begin() + static_cast<long>(count));
      if (content.empty()) continue;
      ScanOutcome outcome = scanFile(content, patterns);
      ASSERT_EQ(outcome.missing, expectedMissing(content, patterns)) << "round " << round;
      auto edited = addPatterns(content, patterns);
      ASSERT_TRUE(edited);
      std::string viaEdit;
      if (*edited)
        viaEdit = (*edited)->str().substr((*edited)->str().size() - outcome.missing.size());
      ASSERT_EQ(viaEdit, outcome.missing) << "round " << round;

      // unhide: the stretches kept around the matching lines make up what
      // removePatterns gives, unless the limit of stretches stopped the scan.
      std::size_t maxRanges = round % 4 == 0 ? 2 : 100000;
      RemovalScan removal = scanRemoval(content, patterns, maxRanges);
      auto removed = removePatterns(content, patterns);
      ASSERT_TRUE(removed);
      ASSERT_EQ(removal.anyRemoved, removed->has_value()) << "round " << round;
      ASSERT_EQ(removal.summary.complete, !removal.tooManyRanges) << "round " << round;
      if (removal.anyRemoved && removal.summary.complete && removal.summary.writtenForm) {
        std::string kept;
        for (const FileRange& range : removal.kept)
          kept += content.substr(range.offset, range.length);
        ASSERT_EQ(kept, (*removed)->str()) << "round " << round;
      }
    }
  }
}

TEST(ExcludeScan, RefusesFilesOfTheSizeLimit) {
  std::string content(maxExcludeFileSize, 'a');
  ScratchFile file(content);
  auto opened = openExcludeFile(file.path());
  ASSERT_TRUE(opened && *opened);
  auto summary = scanExcludeFile(**opened, [](std::string_view) { return true; });
  ASSERT_FALSE(summary);
  EXPECT_EQ(summary.error(), Error::StreamTooLong);
}

}  // namespace
}  // namespace hushmark
