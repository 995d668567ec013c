#include "files/windows_path.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace hushmark {
namespace {

TEST(WindowsPathTest, DirectoryPartStopsAtRootsAndTakesEitherSeparator) {
  struct Case {
    std::string path;
    std::string directory;
  };
  for (const Case& c : std::vector<Case>{
           {"exclude", ""},
           {".git/info/exclude", ".git/info"},
           {".git\\info\\exclude", ".git\\info"},
           {"a\\b/c", "a\\b"},
           {"a//\\b", "a"},
           {"C:\\exclude", "C:\\"},
           {"C:/exclude", "C:/"},
           {"c:\\\\exclude", "c:\\"},
           {"C:exclude", "C:"},
           {"C:\\repo\\.git\\info\\exclude", "C:\\repo\\.git\\info"},
           {"\\exclude", "\\"},
           {"\\\\server\\share\\exclude", "\\\\server\\share\\"},
           {"//server/share/dir/exclude", "//server/share/dir"},
           {"\\\\?\\C:\\exclude", "\\\\?\\C:\\"},
           {"\\\\?\\UNC\\server\\share\\exclude", "\\\\?\\UNC\\server\\share\\"},
           {"\\\\?\\UNC\\server\\share\\d\\exclude", "\\\\?\\UNC\\server\\share\\d"},
       }) {
    EXPECT_EQ(windowsDirectoryPart(c.path), c.directory) << c.path;
  }
}

TEST(WindowsPathTest, ExtendedFormOfFullPaths) {
  struct Case {
    std::u16string full;
    std::u16string prefix;
    std::size_t replaced;
  };
  for (const Case& c : std::vector<Case>{
           {u"C:\\repo\\exclude", u"\\\\?\\", 0},
           {u"\\\\server\\share\\exclude", u"\\\\?\\UNC\\", 2},
           {u"\\\\?\\C:\\exclude", u"", 0},
           {u"\\\\.\\NUL", u"", 0},
           {u"exclude", u"", 0},
       }) {
    ExtendedForm form = extendedForm(c.full);
    EXPECT_EQ(form.prefix, c.prefix);
    EXPECT_EQ(form.replaced, c.replaced);
  }
}

}  // namespace
}  // namespace hushmark
