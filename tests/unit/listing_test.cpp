// The absolute listing where the end-to-end links do not reach: CR LF,
// hex prefixes, odd code digits, a last line without line feed, the top
// of the 32-bit space, and the pieces of an over-long line with their line
// numbers. The layout of real listings is pinned end to end.
#include "listing.h"

#include <gtest/gtest.h>

#include <string>

#include "context.h"
#include "test_support.h"

namespace zeld {
namespace {

// An image with the bytes A0 to A7 at 0x4000, where the module's _main is.
struct ListingTest : LinkTest {
  ListingTest() {
    create_image(ctx, 0xFF, 0x10000);
    for (u32 i = 0; i < 8; ++i) ctx.image.data[0x4000 + i] = static_cast<u8>(0xA0 + i);
    define("_main", 0x4000);
  }
  void define(const char* name, u32 address) {
    Symbol* s = ctx.symbols.insert(name);
    s->flags = SYM_DEFINED | SYM_ABSOLUTE;
    s->value = address;
  }
  std::string relocate(const std::string& listing_text) {
    std::FILE* f = std::tmpfile();
    relocate_listing(ctx, f, listing_text, "t.lis");
    std::string text = read_all(f);
    std::fclose(f);
    return text;
  }
};

TEST_F(ListingTest, CrLfHexPrefixesOddDigitsAndALastLineWithoutLineFeed) {
  define("_end", 0xFFFFFFFF);  // beyond the image: its code is copied as it stands
  EXPECT_EQ(relocate("0x0002  _main::\r\n"
                     "0x03  11223344  ld\r\n"
                     "  .AREA far (global)\r\n"
                     "0000  55  copied as it stands\r\n"
                     "  .Area last\r\n"
                     "0000  778     _end::\n"
                     "  .Area text\r\n"
                     "0000  _main::\n"
                     "0007  D"),
            " 4000   _main::\n"
            " 4001  A1A2A3A4  ld\n"
            "  .AREA far (global)\n"
            "0000  55  copied as it stands\n"
            "  .Area last\n"
            " FFFFFFFF  778     _end::\n"
            "  .Area text\n"
            " 4000   _main::\n"
            " 4007  A7");
  EXPECT_EQ(err(), "");
}

TEST_F(ListingTest, LongLinesComeInPiecesThatShareTheLineNumber) {
  std::string first(kMaxListingLine, 'x');
  first.replace(0, 6, "0000  ");
  std::string result = relocate(first + "0002  _nope::\n0003  _gone::\n0004  _main::\n");
  // The piece after the limit is relocated as a line of its own.
  EXPECT_EQ(result.substr(0, 9), "--- 0000 ");
  EXPECT_EQ(result.substr(kMaxListingLine + 4), "--- 0002  _nope::\n--- 0003  _gone::\n 4000   _main::\n");
  EXPECT_EQ(err(),
            "!E t.lis(1): {linker} can't find address for symbol '_nope'\n"
            "!E t.lis(2): {linker} can't find address for symbol '_gone'\n");
  EXPECT_EQ(ctx.diag.error_count(), 2);
}

}  // namespace
}  // namespace zeld
