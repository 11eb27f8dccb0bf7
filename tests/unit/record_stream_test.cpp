// The parsed records between the passes: whether kept in memory, in the
// temporary file, or partly in each when the file stops taking them, a walk
// must give back every entry as it was added. Also the temporary files
// themselves, and those that wait beside an output to take its name.
#include "record_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "spill_file.h"
#include "test_support.h"

namespace zeld {
namespace {

constexpr int kTextLines = 3000;

// Every kind of entry, with small and large numbers, over many blocks.
void fill(RecordStream& s) {
  s.add_file_start(7);
  s.add_event(RecordKind::kHeader);
  s.add_format(true, false);
  s.add_event(RecordKind::kArea);
  for (int i = 0; i < kTextLines; ++i) {
    TextLine t;
    t.count = 1 + i % kMaxRecordValues;
    for (int v = 0; v < t.count; ++v) t.values[v] = static_cast<u32>(i % 3 == 0 ? i * 977 + v : (i + v) & 0xFF);
    s.add_text(3 * i + 1, t);
    FieldLine f;
    f.area_b1 = static_cast<u32>(i);
    f.stopped_at_non_number = i % 5 == 0;
    f.items.push_back({0x0A, 2, static_cast<u32>(i) & 0xFF, 0xFFFFFFFF});
    s.add_fields(i % 7 == 0 ? RecordKind::kPaging : RecordKind::kRelocation, 3 * i + 2, f);
  }
  s.add_module(12345);
  s.add_file_end(3 * kTextLines + 5);
}

// Walks `s` and checks it against what fill() added.
void expect_filled(RecordStream& s, bool consume) {
  RecordStream::Cursor c(s, consume);
  RecordEntry e;
  ASSERT_TRUE(c.next(e));
  EXPECT_EQ(e.kind, RecordKind::kFileStart);
  EXPECT_EQ(e.number, 7u);
  ASSERT_TRUE(c.next(e) && c.next(e) && c.next(e));
  EXPECT_EQ(e.kind, RecordKind::kArea);
  for (int i = 0; i < kTextLines; ++i) {
    ASSERT_TRUE(c.next(e));
    ASSERT_EQ(e.kind, RecordKind::kText);
    EXPECT_EQ(e.line, 3 * i + 1);
    ASSERT_EQ(e.text.count, 1 + i % kMaxRecordValues);
    for (int v = 0; v < e.text.count; ++v)
      ASSERT_EQ(e.text.values[v], static_cast<u32>(i % 3 == 0 ? i * 977 + v : (i + v) & 0xFF)) << i;
    ASSERT_TRUE(c.next(e));
    EXPECT_EQ(e.kind, i % 7 == 0 ? RecordKind::kPaging : RecordKind::kRelocation);
    EXPECT_EQ(e.line, 3 * i + 2);
    EXPECT_EQ(e.fields.area_b1, static_cast<u32>(i));
    EXPECT_EQ(e.fields.stopped_at_non_number, i % 5 == 0);
    ASSERT_EQ(e.fields.items.size(), 1u);
    EXPECT_EQ(e.fields.items[0].index_b2, 0xFFFFFFFFu);
  }
  ASSERT_TRUE(c.next(e));
  EXPECT_EQ(e.number, 12345u);
  ASSERT_TRUE(c.next(e));
  EXPECT_EQ(e.kind, RecordKind::kFileEnd);
  EXPECT_EQ(e.line, 3 * kTextLines + 5);
  EXPECT_FALSE(c.next(e));
}

#ifndef _WIN32

// Points TMPDIR elsewhere for one test.
class TemporaryFolder {
 public:
  explicit TemporaryFolder(const char* dir) {
    if (const char* old = std::getenv("TMPDIR")) old_ = old, had_ = true;
    setenv("TMPDIR", dir, 1);
  }
  ~TemporaryFolder() { had_ ? setenv("TMPDIR", old_.c_str(), 1) : unsetenv("TMPDIR"); }

 private:
  std::string old_;
  bool had_ = false;
};

TEST(RecordStream, BlocksInTheTemporaryFileComeBackAsAdded) {
  RecordStream s(RecordStream::kSmallBlockSize);
  s.spill_after(RecordStream::kSmallBlockSize);  // blocks wait in memory until they pass one block
  fill(s);
  ASSERT_GT(s.spilled_blocks(), 3u);
  expect_filled(s, false);
  expect_filled(s, false);  // a walk that keeps the blocks can be repeated
  expect_filled(s, true);
}

TEST(RecordStream, WithoutATemporaryFolderTheBlocksStayInMemory) {
  TemporaryFolder missing("/nonexistent-folder-of-the-tests");
  RecordStream s(RecordStream::kSmallBlockSize);
  s.spill_after(0);
  fill(s);
  EXPECT_EQ(s.spilled_blocks(), 0u);
  expect_filled(s, true);
}

// A full disk: the file takes the first blocks and refuses the next; the
// refused ones and all after them stay in memory.
TEST(RecordStream, AFullTemporaryFileKeepsTheRestInMemory) {
  rlimit before{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
  auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = before;
  small.rlim_cur = 3 * RecordStream::kSmallBlockSize;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  RecordStream s(RecordStream::kSmallBlockSize);
  s.spill_after(0);
  fill(s);
  setrlimit(RLIMIT_FSIZE, &before);
  std::signal(SIGXFSZ, old_handler);
  EXPECT_GT(s.spilled_blocks(), 0u);
  EXPECT_LT(s.spilled_blocks(), 4u);
  expect_filled(s, true);
}

TEST(SpillFile, ReadsWhatWasWrittenAndRefusesToReadPastIt) {
  auto f = SpillFile::open();
  ASSERT_TRUE(f);
  u64 first = 99, second = 99;
  ASSERT_TRUE(f->append("abcdef", 6, first));
  ASSERT_TRUE(f->append("XYZ", 3, second));
  EXPECT_EQ(first, 0u);
  EXPECT_EQ(second, 6u);
  char got[9] = {};
  ASSERT_TRUE(f->read(4, got, 5));
  EXPECT_EQ(std::string(got, 5), "efXYZ");
  errno = 0;
  EXPECT_FALSE(f->read(6, got, 4));
  EXPECT_EQ(errno, EIO);
}

#ifdef __linux__

// A text is kept beside its file only while no file has its name, and
// takes that name only while it is still free, with the mode a new output
// gets; otherwise nothing changes, and the text can still be read back to
// be copied. Nothing else is left behind.
TEST(SpillFile, AStreamBesideAFileTakesItsNameOnlyWhenFree) {
  TestFolder folder("beside");
  const std::string name = folder.path("out.mp");
  std::FILE* first = open_temporary_stream_beside(name);
  std::FILE* second = open_temporary_stream_beside(name);
  ASSERT_TRUE(first && second);
  std::fputs("first text", first);
  ASSERT_TRUE(name_temporary_stream(first, name));
  std::fclose(first);
  EXPECT_FALSE(open_temporary_stream_beside(name));  // the name is taken now
  std::fputs("second", second);
  EXPECT_FALSE(name_temporary_stream(second, name));
  std::rewind(second);
  char back[16] = {};
  EXPECT_EQ(std::fread(back, 1, sizeof back, second), 6u);
  EXPECT_STREQ(back, "second");
  std::fclose(second);
  std::ifstream in(name, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "first text");
  std::fclose(std::fopen(folder.path("plain").c_str(), "w"));
  struct stat named {}, plain {};
  ASSERT_EQ(stat(name.c_str(), &named), 0);
  ASSERT_EQ(stat(folder.path("plain").c_str(), &plain), 0);
  EXPECT_EQ(named.st_mode, plain.st_mode);
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(folder.dir())) left.push_back(entry.path().filename());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"out.mp", "plain"}));
  EXPECT_FALSE(open_temporary_stream_beside(folder.path("missing/out.mp")));
  ASSERT_EQ(symlink("nowhere", folder.path("dangling.mp").c_str()), 0);
  EXPECT_FALSE(open_temporary_stream_beside(folder.path("dangling.mp")));
}

#endif
#endif

// A file's stream, appended and then filled again for the next file
// (over one block, or several), adds each file's entries once, with line
// numbers counted from the file's start.
TEST(RecordStream, AFileStreamAppendedIsEmptyAndFillsAgain) {
  RecordStream link, file(RecordStream::kSmallBlockSize);
  const int lines[] = {3, 2000, 1, 0};
  for (u32 f = 0; f < 4; ++f) {
    link.add_file_start(f);
    for (int i = 0; i < lines[f]; ++i) {
      TextLine t;
      t.count = 1 + i % kMaxRecordValues;
      t.values[0] = f * 100000 + static_cast<u32>(i);
      file.add_text(i + 1, t);
    }
    link.append(file);
    RecordEntry e;
    EXPECT_FALSE(RecordStream::Cursor(file).next(e));
    link.add_file_end(lines[f]);
  }
  RecordStream::Cursor c(link);
  RecordEntry e;
  for (u32 f = 0; f < 4; ++f) {
    ASSERT_TRUE(c.next(e));
    ASSERT_EQ(e.kind, RecordKind::kFileStart);
    EXPECT_EQ(e.number, f);
    for (int i = 0; i < lines[f]; ++i) {
      ASSERT_TRUE(c.next(e));
      ASSERT_EQ(e.kind, RecordKind::kText);
      EXPECT_EQ(e.line, i + 1);
      EXPECT_EQ(e.text.count, 1 + i % kMaxRecordValues);
      ASSERT_EQ(e.text.values[0], f * 100000 + static_cast<u32>(i));
    }
    ASSERT_TRUE(c.next(e));
    EXPECT_EQ(e.kind, RecordKind::kFileEnd);
  }
  EXPECT_FALSE(c.next(e));
}

TEST(RecordStream, InMemoryByDefault) {
  RecordStream s(RecordStream::kSmallBlockSize);
  fill(s);
  EXPECT_EQ(s.spilled_blocks(), 0u);
  expect_filled(s, true);
}

}  // namespace
}  // namespace zeld
