// The line reader (long lines, line ends, the line counter), pass 0 over
// object text (radix lines, unknown records, huge announced capacities) and
// the record stream that carries T, R and P records to pass 1.
#include "object_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "context.h"
#include "source_text.h"
#include "test_support.h"

namespace zeld {
namespace {

struct ReaderTest : ::testing::Test {
  std::FILE* err = std::tmpfile();
  LinkContext ctx{err, err};

  ~ReaderTest() override {
    ctx.run_cleanup();
    std::fclose(err);
  }

  // Pass 0 over `text` as the next input.
  void read(const std::string& name, const std::string& text, InputKind kind = InputKind::kNamed) {
    ctx.input_files.push_back(std::make_unique<InputFile>(InputFile{name, kind}));
    read_object_text(ctx, *ctx.input_files.back(), text);
  }
};

// Lines of a text with the line counter after each, as pass 0 counts them.
std::vector<std::pair<std::string, int>> lines_of(const std::string& text) {
  std::vector<std::pair<std::string, int>> out;
  LineSplitter lines(text, kMaxObjectLine);
  std::string_view line;
  bool newline = false;
  int count = 0;
  while (lines.next(line, newline)) {
    if (newline) ++count;
    out.emplace_back(std::string(line), count);
  }
  return out;
}

TEST(LineSplitter, LongLinesComeInPiecesAndCountOnce) {
  auto got = lines_of(std::string(1500, 'x') + "\nnext\n");
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0].first.size(), 1023u);
  EXPECT_EQ(got[0].second, 0);
  EXPECT_EQ(got[1].first.size(), 477u);
  EXPECT_EQ(got[1].second, 1);
  EXPECT_EQ(got[2], std::make_pair(std::string("next"), 2));
  got = lines_of(std::string(1023, 'y') + "\r\n");  // fits exactly, then an empty piece
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].second, 0);
  EXPECT_EQ(got[1], std::make_pair(std::string(), 1));
}

TEST(LineSplitter, CarriageReturnsBeforeLineFeedsAreDropped) {
  auto got = lines_of("a\r\nb\rc\r\nlast");
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0], std::make_pair(std::string("a"), 1));
  EXPECT_EQ(got[1], std::make_pair(std::string("b\rc"), 2));
  EXPECT_EQ(got[2], std::make_pair(std::string("last"), 2));  // no line feed: not counted
}

// The pieces of a text read one byte at a time: at most kMaxLine bytes, a
// carriage return dropped only right before a line feed.
std::vector<std::pair<std::string, bool>> pieces_of(const std::string& text) {
  std::vector<std::pair<std::string, bool>> out;
  std::size_t i = 0;
  while (i < text.size()) {
    std::string piece;
    bool newline = false;
    while (piece.size() < kMaxObjectLine && i < text.size()) {
      char c = text[i++];
      if (c == '\r' && i < text.size() && text[i] == '\n') c = text[i++];
      if (c == '\n') {
        newline = true;
        break;
      }
      piece.push_back(c);
    }
    out.emplace_back(piece, newline);
  }
  return out;
}

TEST(LineSplitter, PiecesMatchAByteAtATimeReading) {
  // Lines around the piece limit, ended by LF, CRLF, a lone CR, CR CR LF
  // or nothing, with NULs inside.
  std::string text;
  unsigned seed = 12345;
  auto next = [&seed](unsigned n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) % n;
  };
  const char* endings[] = {"\n", "\r\n", "\r", "", "\r\r\n"};
  while (text.size() < 300'000) {
    std::size_t length = next(2) ? next(40) : kMaxObjectLine - 3 + next(6);
    for (std::size_t i = 0; i < length; ++i) text.push_back(next(50) ? static_cast<char>('a' + next(26)) : '\0');
    text += endings[next(5)];
  }
  text += "\r";  // a last carriage return with nothing after it stays
  LineSplitter lines(text, kMaxObjectLine);
  std::vector<std::pair<std::string, bool>> got;
  std::string_view line;
  bool newline = false;
  while (lines.next(line, newline)) got.emplace_back(std::string(line), newline);
  auto want = pieces_of(text);
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) ASSERT_EQ(got[i], want[i]) << "piece " << i;
  EXPECT_FALSE(lines.next(line, newline));  // the end stays the end
}

TEST(RecordStream, EntriesComeBackAsTheyWentIn) {
  RecordStream stream;
  TextLine text;
  text.count = 3;
  text.values = {1, 2, 0xFFFFFFFF};
  FieldLine fields;
  fields.zero_pair_ok = false;
  fields.area_b1 = 300;
  fields.stopped_at_non_number = true;
  // Enough entries to fill several blocks.
  for (int i = 0; i < 40000; ++i) {
    stream.add_file_start(static_cast<u32>(i));
    stream.add_event(RecordKind::kHeader);
    stream.add_format(true, i % 2 == 0);
    text.values[0] = static_cast<u32>(i);
    stream.add_text(5, text);
    fields.items.assign(static_cast<std::size_t>(i % 7), FieldItem{0x80, 4, 1, static_cast<u32>(i)});
    stream.add_fields(RecordKind::kRelocation, 9, fields);
    stream.add_file_end(12);
  }
  RecordStream::Cursor cursor(stream);
  RecordEntry e;
  for (int i = 0; i < 40000; ++i) {
    ASSERT_TRUE(cursor.next(e));
    ASSERT_EQ(e.kind, RecordKind::kFileStart);
    ASSERT_EQ(e.number, static_cast<u32>(i));
    ASSERT_TRUE(cursor.next(e));
    ASSERT_EQ(e.kind, RecordKind::kHeader);
    ASSERT_TRUE(cursor.next(e));
    ASSERT_EQ(e.number, 1u | (i % 2 == 0 ? 2u : 0u));
    ASSERT_TRUE(cursor.next(e));
    ASSERT_EQ(e.kind, RecordKind::kText);
    ASSERT_EQ(e.line, 5);
    ASSERT_EQ(e.text.count, 3);
    ASSERT_EQ(e.text.values[0], static_cast<u32>(i));
    ASSERT_EQ(e.text.values[2], 0xFFFFFFFFu);
    ASSERT_TRUE(cursor.next(e));
    ASSERT_EQ(e.kind, RecordKind::kRelocation);
    ASSERT_EQ(e.line, 9);
    ASSERT_FALSE(e.fields.zero_pair_ok);
    ASSERT_TRUE(e.fields.stopped_at_non_number);
    ASSERT_EQ(e.fields.area_b1, 300u);
    ASSERT_EQ(e.fields.items.size(), static_cast<std::size_t>(i % 7));
    if (!e.fields.items.empty()) {
      ASSERT_EQ(e.fields.items.back().index_b2, static_cast<u32>(i));
    }
    ASSERT_TRUE(cursor.next(e));
    ASSERT_EQ(e.kind, RecordKind::kFileEnd);
    ASSERT_EQ(e.line, 12);
  }
  EXPECT_FALSE(cursor.next(e));
}

TEST_F(ReaderTest, LibraryMembersAreNamedLibrary) {
  read("members", "M x\n", InputKind::kLibraryMembers);
  EXPECT_EQ(ctx.reader.place.file, std::optional<std::string>("<library>"));
}

TEST_F(ReaderTest, RadixLinesSetRadixByteOrderAndXgate) {
  read("a.o", "XH xGaTe\nH 10 areas 2\nZ unknown record\n");
  read("b.o", "H 11 areas 3\nQ\nD xgate\n");  // no radix line: still hexadecimal
  EXPECT_EQ(read_all(err), "");
  ASSERT_EQ(ctx.reader.headers.size(), 2u);
  EXPECT_EQ(ctx.reader.headers[1].area_capacity, 0x11u);
  EXPECT_EQ(ctx.reader.headers[1].input_file, ctx.input_files[1].get());
  EXPECT_EQ(ctx.reader.radix, 10);
  EXPECT_TRUE(ctx.reader.format.high_byte_first);  // Q and D without H or L leave the order
  EXPECT_TRUE(ctx.reader.format.xgate);
  read("c.o", "XL xgate\nX\n");  // the next radix line clears the mark
  EXPECT_FALSE(ctx.reader.format.xgate);
  EXPECT_FALSE(ctx.reader.format.high_byte_first);
}

TEST_F(ReaderTest, HugeAnnouncedCapacitiesCostNothingUpFront) {
  read("a.o", "XH\nH FFFFFFFF areas FFFFFFFF\n");
  EXPECT_EQ(ctx.reader.headers[0].area_capacity, 0xFFFFFFFFu);
  EXPECT_LE(ctx.reader.headers[0].area_parts.capacity(), 64u);
}

}  // namespace
}  // namespace zeld
