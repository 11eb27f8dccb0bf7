// The line reader over the input list (long lines, line ends, the line
// counter, files that cannot be opened) and the record dispatcher (radix
// lines, unknown records, huge announced capacities).
#include "object_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "context.h"
#include "test_support.h"

namespace zeld {
namespace {


struct ReaderTest : ::testing::Test {
  std::FILE* err = std::tmpfile();
  LinkContext ctx{err, err};
  std::vector<std::string> made;

  ~ReaderTest() override {
    ctx.run_cleanup();
    for (const std::string& f : made) std::remove(f.c_str());
    std::fclose(err);
  }

  void add_file(const std::string& name, const std::string& text, int kind = INPUT_NAMED) {
    // Test cases may run in parallel processes: keep their files apart.
    std::string path = ::testing::TempDir() + "/" + ::testing::UnitTest::GetInstance()->current_test_info()->name() +
                       "-" + name;
    std::ofstream(path, std::ios::binary) << text;
    made.push_back(path);
    ctx.input_files.push_back(std::make_unique<InputFile>(InputFile{path, kind}));
  }

  // Lines of one pass with the line counter after each.
  std::vector<std::pair<std::string, int>> lines() {
    std::vector<std::pair<std::string, int>> out;
    start_pass(ctx);
    while (next_input_line(ctx)) out.emplace_back(ctx.reader.line_buffer, ctx.diag.current_line_number);
    return out;
  }

  void run_pass(int pass) {
    ctx.link_pass = pass;
    start_pass(ctx);
    while (next_input_line(ctx)) {
      ctx.lex.reset(ctx.reader.line_buffer);
      dispatch_record(ctx);
    }
  }
};

TEST_F(ReaderTest, LongLinesComeInPiecesAndCountOnce) {
  add_file("long.o", std::string(1500, 'x') + "\nnext\n");
  add_file("exact.o", std::string(1023, 'y') + "\r\n");  // fits exactly, then an empty piece
  auto got = lines();
  ASSERT_EQ(got.size(), 5u);
  EXPECT_EQ(got[0].first.size(), 1023u);
  EXPECT_EQ(got[0].second, 0);
  EXPECT_EQ(got[1].first.size(), 477u);
  EXPECT_EQ(got[1].second, 1);
  EXPECT_EQ(got[2], std::make_pair(std::string("next"), 2));
  EXPECT_EQ(got[3].second, 0);
  EXPECT_EQ(got[4], std::make_pair(std::string(), 1));
}

TEST_F(ReaderTest, CarriageReturnsBeforeLineFeedsAreDropped) {
  add_file("crlf.o", "a\r\nb\rc\r\nlast");
  add_file("second.o", "\r\n");
  auto got = lines();
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(got[0], std::make_pair(std::string("a"), 1));
  EXPECT_EQ(got[1], std::make_pair(std::string("b\rc"), 2));
  EXPECT_EQ(got[2], std::make_pair(std::string("last"), 2));  // no line feed: not counted
  EXPECT_EQ(got[3], std::make_pair(std::string(), 1));        // counter restarts per file
}

// The pieces of a text read one byte at a time: at most kMaxLine bytes, a
// carriage return dropped only right before a line feed.
std::vector<std::pair<std::string, bool>> pieces_of(const std::string& text) {
  std::vector<std::pair<std::string, bool>> out;
  std::size_t i = 0;
  while (i < text.size()) {
    std::string piece;
    bool newline = false;
    while (piece.size() < LineReader::kMaxLine && i < text.size()) {
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

TEST(LineReader, PiecesAreTheSameAcrossReadBlocks) {
  // Several read blocks of lines around the piece limit, ended by LF, CRLF,
  // a lone CR, CR CR LF or nothing, with NULs inside, so that every kind of
  // line end falls on some block boundary.
  std::string text;
  unsigned seed = 12345;
  auto next = [&seed](unsigned n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) % n;
  };
  const char* endings[] = {"\n", "\r\n", "\r", "", "\r\r\n"};
  while (text.size() < 1'200'000) {
    std::size_t length = next(2) ? next(40) : LineReader::kMaxLine - 3 + next(6);
    for (std::size_t i = 0; i < length; ++i) text.push_back(next(50) ? static_cast<char>('a' + next(26)) : '\0');
    text += endings[next(5)];
  }
  text += "\r";  // a last carriage return with nothing after it stays
  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(std::fwrite(text.data(), 1, text.size(), f), text.size());
  std::rewind(f);
  LineReader reader;
  reader.open(f);
  std::vector<std::pair<std::string, bool>> got;
  std::string line;
  bool newline = false;
  while (reader.read_line(line, newline)) got.emplace_back(line, newline);
  EXPECT_FALSE(reader.failed());
  auto want = pieces_of(text);
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) ASSERT_EQ(got[i], want[i]) << "piece " << i;
  EXPECT_FALSE(reader.read_line(line, newline));  // the end stays the end
}

TEST_F(ReaderTest, ExtractFileIsNamedLibrary) {
  add_file("zolextract", "M x\n", INPUT_LIBRARY_EXTRACT);
  lines();
  EXPECT_EQ(ctx.diag.current_file(), std::optional<std::string>("<library>"));
}

TEST_F(ReaderTest, MissingInputFileIsFatal) {
  ctx.input_files.push_back(std::make_unique<InputFile>(InputFile{"no-such-file.o", INPUT_NAMED}));
  EXPECT_THROW(lines(), LinkAbort);
  EXPECT_EQ(read_all(err), "!E {linker} cannot open 'no-such-file.o'\n");
}

TEST_F(ReaderTest, RadixLinesSetRadixByteOrderAndXgate) {
  add_file("a.o", "XH xGaTe\nH 10 areas 2\nZ unknown record\n");
  add_file("b.o", "H 11 areas 3\nQ\nD xgate\n");  // no radix line: still hexadecimal
  run_pass(0);
  EXPECT_EQ(read_all(err), "");
  ASSERT_EQ(ctx.reader.headers.size(), 2u);
  EXPECT_EQ(ctx.reader.headers[1].area_capacity, 0x11u);
  EXPECT_EQ(ctx.reader.headers[1].input_file, ctx.input_files[1].get());
  EXPECT_EQ(ctx.lex.radix, 10);
  EXPECT_TRUE(ctx.lex.high_byte_first);  // Q and D without H or L leave the order
  EXPECT_TRUE(ctx.lex.xgate_module);
  add_file("c.o", "XL xgate\nX\n");  // the next radix line clears the mark
  run_pass(0);
  EXPECT_FALSE(ctx.lex.xgate_module);
  EXPECT_FALSE(ctx.lex.high_byte_first);
}

TEST_F(ReaderTest, HugeAnnouncedCapacitiesCostNothingUpFront) {
  add_file("a.o", "XH\nH FFFFFFFF areas FFFFFFFF\n");
  run_pass(0);
  EXPECT_EQ(ctx.reader.headers[0].area_capacity, 0xFFFFFFFFu);
  EXPECT_LE(ctx.reader.headers[0].area_parts.capacity(), 64u);
}

}  // namespace
}  // namespace zeld
