#include "base/buffer.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "runtime/output.h"

namespace hushmark {
namespace {

TEST(ByteBuffer, GrowsKeepingItsContent) {
  ByteBuffer buffer;
  EXPECT_TRUE(buffer.empty());
  std::string expected;
  for (int i = 0; i < 1000; ++i) {
    std::string piece = std::to_string(i) + ",";
    ASSERT_TRUE(buffer.append(piece));
    expected += piece;
  }
  ASSERT_TRUE(buffer.append('\0'));
  expected += '\0';
  EXPECT_EQ(buffer.view(), expected);
  EXPECT_TRUE(buffer.append(std::string_view()));
  EXPECT_EQ(buffer.size(), expected.size());
}

TEST(ByteBuffer, SpareRoomAndCommit) {
  ByteBuffer buffer;
  ASSERT_TRUE(buffer.append("ab"));
  ASSERT_TRUE(buffer.reserveExtra(100));
  ASSERT_GE(buffer.spareSize(), 100u);
  std::memcpy(buffer.spare(), "cde", 3);
  buffer.commit(3);
  EXPECT_EQ(buffer.view(), "abcde");
  ASSERT_TRUE(buffer.shrinkToFit());
  EXPECT_EQ(buffer.spareSize(), 0u);
  EXPECT_EQ(buffer.view(), "abcde");
  buffer.clear();
  ASSERT_TRUE(buffer.shrinkToFit());
  EXPECT_TRUE(buffer.empty());
  EXPECT_TRUE(buffer.append("again"));
  EXPECT_EQ(buffer.view(), "again");
}

TEST(ByteBuffer, ImpossibleGrowthIsOutOfMemory) {
  ByteBuffer buffer;
  ASSERT_TRUE(buffer.append("x"));
  auto grown = buffer.reserveExtra(SIZE_MAX - 1);
  ASSERT_FALSE(grown);
  EXPECT_EQ(grown.error(), Error::OutOfMemory);
  EXPECT_EQ(buffer.view(), "x");
}

TEST(ByteBuffer, MoveHandsOverTheContent) {
  ByteBuffer first;
  ASSERT_TRUE(first.append("content"));
  ByteBuffer second(std::move(first));
  EXPECT_EQ(second.view(), "content");
  EXPECT_TRUE(first.empty());  // NOLINT(bugprone-use-after-move)
  ByteBuffer third;
  ASSERT_TRUE(third.append("old"));
  third = std::move(second);
  EXPECT_EQ(third.view(), "content");
}

std::string readAvailable(int fd) {
  std::string text;
  char chunk[4096];
  for (ssize_t got; (got = ::read(fd, chunk, sizeof chunk)) > 0;) {
    text.append(chunk, static_cast<std::size_t>(got));
  }
  return text;
}

TEST(BufferedWriter, HoldsBackUntilFullOrFlushed) {
  int ends[2];
  ASSERT_EQ(::pipe2(ends, O_NONBLOCK), 0);
  char storage[8];
  BufferedWriter writer(ends[1], storage, sizeof storage);
  writer.write("abc");
  EXPECT_EQ(readAvailable(ends[0]), "");
  // Pieces longer than the buffer arrive whole and in order.
  writer.write("defghijklmnopqrstu");
  writer.write("");
  writer.write("v");
  EXPECT_EQ(readAvailable(ends[0]), "abcdefghijklmnop");
  ASSERT_TRUE(writer.flush());
  EXPECT_EQ(readAvailable(ends[0]), "qrstuv");
  ASSERT_TRUE(writer.flush());
  EXPECT_EQ(readAvailable(ends[0]), "");
  ::close(ends[0]);
  ::close(ends[1]);
}

TEST(BufferedWriter, KeepsTheFirstFailure) {
  int full = ::open("/dev/full", O_WRONLY);
  ASSERT_GE(full, 0);
  char storage[4];
  BufferedWriter writer(full, storage, sizeof storage);
  writer.write("more than four bytes");
  auto flushed = writer.flush();
  ASSERT_FALSE(flushed);
  EXPECT_EQ(flushed.error(), Error::NoSpaceLeft);
  EXPECT_FALSE(writer.flush());
  ::close(full);
}

TEST(WriteAll, EmptyTextMakesNoWrite) {
  // A closed descriptor would fail any write that was tried.
  int fd = ::open("/dev/null", O_WRONLY);
  ASSERT_GE(fd, 0);
  ::close(fd);
  EXPECT_TRUE(writeAll(fd, ""));
  EXPECT_FALSE(writeAll(fd, "x"));
}

}  // namespace
}  // namespace hushmark
