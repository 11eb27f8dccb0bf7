// Reading ahead: a file parsed on the reading thread must leave pass 0
// exactly where reading its text would, and a file the thread cannot read
// must come back (with every file after it) for the link to read itself.
#include "file_prefetch.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif
#ifdef __linux__
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "context.h"
#include "helper_priority.h"
#include "source_text.h"
#include "test_support.h"

namespace zeld {
namespace {

// Radix changes inside and across modules, records of every kind, a
// refused T line, an over-long line, CR LF, a comment and unknown letters.
std::string sample_text() {
  std::string text =
      "XH\nH 2 areas 2 global symbols\nM one\nA text size 10 flags 0\nS _f Def0002\nS _g Ref0000\n"
      "T 00 00 86 01 20 FE\r\nR 00 00 00 00 00 02 00 00 02 03 01 00\nP 00 00 00 00 02 03 00 00\n"
      "T 00 02 zz\nZ unknown\n; comment\n"
      "DL xgate\nH 1 areas 0 global symbols\nM two\nA xtext size 4 flags 0\nT 0 0 1 2 3 4 ; tail\n"
      "T ";
  text += std::string(1100, '1') + "\nQH\nT 0 0 377\n";
  return text;
}

void expect_same_records(RecordStream& a, RecordStream& b) {
  RecordStream::Cursor ca(a), cb(b);
  RecordEntry ea, eb;
  int entries = 0;
  for (;;) {
    bool more_a = ca.next(ea), more_b = cb.next(eb);
    ASSERT_EQ(more_a, more_b) << "entry " << entries;
    if (!more_a) break;
    ++entries;
    ASSERT_EQ(ea.kind, eb.kind) << "entry " << entries;
    EXPECT_EQ(ea.number, eb.number);
    EXPECT_EQ(ea.line, eb.line);
    if (ea.kind == RecordKind::kText) {
      EXPECT_EQ(ea.text.status, eb.text.status);
      ASSERT_EQ(ea.text.count, eb.text.count);
      for (int i = 0; i < ea.text.count; ++i) EXPECT_EQ(ea.text.values[i], eb.text.values[i]);
    } else if (ea.kind == RecordKind::kRelocation || ea.kind == RecordKind::kPaging) {
      EXPECT_EQ(ea.fields.items.size(), eb.fields.items.size());
      EXPECT_EQ(ea.fields.area_b1, eb.fields.area_b1);
      EXPECT_EQ(ea.fields.stopped_at_non_number, eb.fields.stopped_at_non_number);
    }
  }
  EXPECT_GT(entries, 15);
}

TEST(FilePrefetch, PreparedTextReadsLikeTheText) {
  const std::string text = sample_text();
  InputFile file{"a.o"};
  CapturedLink direct, ahead;
  read_object_text(direct.ctx, file, text);
  read_object_text(direct.ctx, file, text);  // the second starts in the first's final format

  for (int round = 0; round < 2; ++round) {
    PreparedText prepared;
    prepare_object_text(text, ahead.ctx.reader.radix, ahead.ctx.reader.format, prepared);
    ASSERT_TRUE(read_prepared_text(ahead.ctx, file, text, prepared));
  }
  expect_same_records(direct.ctx.reader.records, ahead.ctx.reader.records);
  EXPECT_EQ(direct.ctx.reader.headers.size(), ahead.ctx.reader.headers.size());
  EXPECT_EQ(direct.ctx.reader.headers.back().name, ahead.ctx.reader.headers.back().name);
  EXPECT_EQ(direct.ctx.reader.place.line, ahead.ctx.reader.place.line);
  EXPECT_EQ(direct.ctx.reader.radix, ahead.ctx.reader.radix);
  EXPECT_EQ(direct.err(), ahead.err());

  // A parse that assumed another format is refused and changes nothing.
  PreparedText stale;
  prepare_object_text(text, 10, ModuleFormat{}, stale);
  std::size_t headers = ahead.ctx.reader.headers.size();
  EXPECT_FALSE(read_prepared_text(ahead.ctx, file, text, stale));
  EXPECT_EQ(ahead.ctx.reader.headers.size(), headers);
}

TEST(FilePrefetch, HandsOverInOrderAndStopsReadingAtAFailure) {
  TestFolder folder("prefetch");
  std::string good = folder.write("good.o", "XH\nH 1 areas 0 global symbols\n");
  std::string binary = folder.write("bin.o", std::string("\x7f" "ELF\0\0", 6));
  FilePrefetch prefetch({good, binary, folder.path("missing.o"), good, folder.path(""), good}, 1 << 20,
                        object_text_preparer(10, ModuleFormat{}));
  PrefetchedFile first = prefetch.take();
  ASSERT_TRUE(first.read && first.parsed);
  EXPECT_EQ(first.parsed->text.line_count, 2);
  EXPECT_EQ(first.parsed->text.end_radix, 16);
  PrefetchedFile second = prefetch.take();
  EXPECT_TRUE(second.read);
  EXPECT_FALSE(second.parsed);
  EXPECT_FALSE(prefetch.take().read);  // missing: the reading goes on
  EXPECT_TRUE(prefetch.take().read);
  EXPECT_FALSE(prefetch.take().read);  // a folder
  EXPECT_FALSE(prefetch.take().read);  // after the failure
  EXPECT_FALSE(prefetch.take().read);  // past the list
}

// With a slow prepare step the link's thread reads files for the reading
// thread: each file still comes once, whole, prepared and in order, and a
// failure still ends the reading at the same file, whoever read the files
// past it.
TEST(FilePrefetch, ReadingSharedWithTheLinkKeepsOrderAndTheFailurePoint) {
  TestFolder folder("prefetch-shared");
  constexpr int kFiles = 200, kFolderAt = 150;
  std::vector<std::string> paths;
  // Texts of 2 to 6 lines, the T lines among them parsed into records.
  auto text_of = [](int i) {
    std::string text = "XH\n; file " + std::to_string(i) + "\n";
    for (int t = 0; t < i % 5; ++t) text += "T 00 00 " + std::to_string(t) + "\n";
    return text;
  };
  for (int i = 0; i < kFiles; ++i)
    paths.push_back(i == kFolderAt ? folder.path("") : folder.write("m" + std::to_string(i) + ".o", text_of(i)));
  FilePrefetch::Prepare parse = object_text_preparer(10, ModuleFormat{});
  FilePrefetch prefetch(paths, 1 << 20, [&](PrefetchedFile& file, std::unique_ptr<PreparedObject> spare) {
    std::this_thread::sleep_for(std::chrono::microseconds(100));
    parse(file, std::move(spare));
  });
  for (int i = 0; i < kFiles; ++i) {
    PrefetchedFile file = prefetch.take();
    if (i >= kFolderAt) {
      EXPECT_FALSE(file.read) << i;
      continue;
    }
    ASSERT_TRUE(file.read) << i;
    EXPECT_EQ(std::string_view(file.bytes), text_of(i));
    ASSERT_TRUE(file.parsed) << i;
    // A parse made in the room of one given back holds this file's only.
    const PreparedText& parsed = file.parsed->text;
    EXPECT_EQ(parsed.line_count, 2 + i % 5) << i;
    EXPECT_EQ(parsed.lines.size(), 1u) << i;  // the H line
    int records = 0;
    RecordStream::Cursor walk(file.parsed->text.records);
    for (RecordEntry e; walk.next(e);) records += e.kind == RecordKind::kText;
    EXPECT_EQ(records, i % 5) << i;
    // Later files are read and parsed into their room, shorter or longer.
    prefetch.recycle(std::move(file.bytes), std::move(file.parsed));
  }
  EXPECT_FALSE(prefetch.take().read);
}

// Whole files, a missing one, a folder; on POSIX hosts a FIFO is refused
// unopened when only plain files are wanted, and read to its end (past the
// first buffer) otherwise. A file text read again into the same buffer
// holds the new file only, whether it is shorter or longer.
template <class Text>
void expect_files_read_whole(const std::string& folder_name) {
  TestFolder folder(folder_name);
  Text text;
  for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{70000}, std::size_t{5}, std::size_t{0}}) {
    std::string bytes(size, static_cast<char>('a' + size % 7));
    if (size > 1) bytes[size - 1] = 'z';
    ASSERT_EQ(read_file(folder.write("f.lis", bytes), text).status, FileRead::kRead);
    EXPECT_EQ(std::string_view(text), bytes);
  }
  FileRead missing = read_file(folder.path("none.lis"), text);
  EXPECT_EQ(missing.status, FileRead::kCannotOpen);
  EXPECT_EQ(missing.error_number, ENOENT);
#ifndef _WIN32
  EXPECT_EQ(read_file(folder.path(""), text).status, FileRead::kFolder);
  std::string fifo = folder.path("pipe.lis");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(read_file(fifo, text, true).status, FileRead::kNotPlain);
  std::string sent(10000, 'p');
  std::thread writer([&] { std::ofstream(fifo, std::ios::binary) << sent; });
  Text piped;  // a fresh buffer: the read grows it, keeping what it read
  EXPECT_EQ(read_file(fifo, piped).status, FileRead::kRead);
  writer.join();
  EXPECT_EQ(std::string_view(piped), sent);
#endif
}

TEST(FilePrefetch, ReadsFilesWholeAndTellsWhyNot) {
  expect_files_read_whole<std::string>("read-file");
  expect_files_read_whole<FileText>("read-file-text");
}

// A buffer handed on leaves an empty one behind, which reads a file anew.
TEST(FilePrefetch, FileTextMovedFromIsEmpty) {
  TestFolder folder("file-text-moved");
  FileText text("abc");
  FileText taken = std::move(text);
  EXPECT_EQ(std::string_view(taken), "abc");
  EXPECT_TRUE(text.empty());
  EXPECT_EQ(text.capacity(), 0u);
  ASSERT_EQ(read_file(folder.write("f.lis", "xyz12"), text).status, FileRead::kRead);
  EXPECT_EQ(std::string_view(text), "xyz12");
  taken = std::move(text);
  EXPECT_EQ(std::string_view(taken), "xyz12");
  EXPECT_EQ(std::string_view(text), "");
}

#ifndef _WIN32
// A FIFO nobody writes to would block an open for ever: the thread leaves
// it (and what follows) to the link, so a link that stops earlier ends.
TEST(FilePrefetch, LeavesAFifoToTheLink) {
  TestFolder folder("prefetch-fifo");
  std::string fifo = folder.path("pipe.o");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  FilePrefetch prefetch({fifo, folder.write("a.o", "XH\n")}, 1 << 20);
  EXPECT_FALSE(prefetch.take().read);
  EXPECT_FALSE(prefetch.take().read);
}
#endif

TEST(FilePrefetch, StopsWhenTheLinkNoLongerWaits) {
  TestFolder folder("prefetch-stop");
  std::string big = folder.write("big.o", std::string(3 << 20, 'x') + "\n");
  std::vector<std::string> paths(8, big);
  FilePrefetch prefetch(paths, 1 << 20);
  EXPECT_TRUE(prefetch.take().read);
  // Leaving with files still ahead ends the thread (the test would hang).
}

#ifdef __linux__
// A helper yields to the link's thread only: lowering the whole process
// would slow the link's thread as much.
TEST(HelperPriority, LowersTheCallingThreadOnly) {
  auto nice_of = [](long thread) {
    errno = 0;
    int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(thread));
    return errno == 0 ? nice : -100;
  };
  const long self = syscall(SYS_gettid);
  const int before = nice_of(self);
  if (before > 10) GTEST_SKIP() << "the tests run at nice " << before << ", too near the lowest priority";
  int helper_before = -100, helper_after = -100;
  std::thread helper([&] {
    const long thread = syscall(SYS_gettid);
    helper_before = nice_of(thread);
    run_below_link_priority();
    helper_after = nice_of(thread);
  });
  helper.join();
  EXPECT_EQ(nice_of(self), before);
  EXPECT_EQ(helper_before, before);
  EXPECT_GT(helper_after, helper_before);
}
#endif

}  // namespace
}  // namespace zeld
