// The absolute listing where the end-to-end links do not reach: a listing
// that cannot be created, an object name without extension, line handling
// (CR LF, a last line without line feed, pieces of an over-long line and
// their line numbers, odd code digits, labels the symbol table does not
// know), and code bytes at addresses the image does not hold. The layout
// of real listings is pinned end to end.
#include "listing.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "context.h"
#include "test_support.h"

namespace zeld {
namespace {

struct ListingTest : ::testing::Test {
  std::FILE* err = std::tmpfile();
  LinkContext ctx{err, err};

  // An image a little past 0xFFFF with the bytes A0 to A7 at 0x4000, where
  // the module's _main is.
  ListingTest() {
    create_image(ctx, 0xFF, 0x10400);
    for (u32 i = 0; i < 8; ++i) ctx.image.data[0x4000 + i] = static_cast<u8>(0xA0 + i);
    define("_main", 0x4000);
  }
  ~ListingTest() override { std::fclose(err); }

  void define(const char* name, u32 address) {
    Symbol* s = ctx.symbols.insert(name);
    s->flags = SYM_DEFINED | SYM_ABSOLUTE;
    s->value = address;
  }

  std::string relocate(const std::string& listing_text) {
    std::FILE* out = std::tmpfile();
    relocate_listing(ctx, out, listing_text, "t.lis");
    std::string text = read_all(out);
    std::fclose(out);
    return text;
  }
};

TEST_F(ListingTest, AListingThatCannotBeCreatedStopsTheLink) {
  std::string base = ::testing::TempDir() + "/zeld-listing-uncreatable";
  ctx.options.output_base_name = base;
  std::filesystem::create_directory(base + ".lst");
  try {
    write_listing(ctx);
    ADD_FAILURE() << "no stop";
  } catch (const LinkAbort& abort) {
    EXPECT_EQ(abort.status, kExitFailure);
  }
  std::error_code ec;
  std::filesystem::remove_all(base + ".lst", ec);
  EXPECT_TRUE(read_all(err).starts_with("!E {linker} cannot create '" + base + ".lst'"));
}

TEST(ModuleListingTest, AFileNameWithoutExtensionHasNoListing) {
  std::string name = "noext";
  Diagnostics diag;
  EXPECT_EQ(open_module_listing(diag, name), nullptr);
  EXPECT_EQ(name, "noext");
}

TEST_F(ListingTest, CrLfLinesHexPrefixesOddDigitsAndALastLineWithoutLineFeed) {
  EXPECT_EQ(relocate("0x0002  _main::\r\n"
                     "0x03  11223344  ld\r\n"
                     "  .AREA far (global)\r\n"
                     "0000  55  copied as it stands\r\n"
                     "  .Area text\r\n"
                     "0000  _main::\n"
                     "0007  D"),
            " 4000   _main::\n"
            " 4001  A1A2A3A4  ld\n"
            "  .AREA far (global)\n"
            "0000  55  copied as it stands\n"
            "  .Area text\n"
            " 4000   _main::\n"
            " 4007  A7");
  EXPECT_EQ(read_all(err), "");
}

TEST_F(ListingTest, LongLinesComeInPiecesThatShareTheLineNumber) {
  std::string first(kMaxListingLine, 'x');
  first.replace(0, 6, "0000  ");
  std::string text = first + "0002  _nope::\n0003  _gone::\n0004  _main::\n";
  std::string result = relocate(text);
  // The piece after the limit is relocated as a line of its own.
  EXPECT_EQ(result.substr(kMaxListingLine + 4), "--- 0002  _nope::\n--- 0003  _gone::\n 4000   _main::\n");
  EXPECT_EQ(result.substr(0, 9), "--- 0000 ");
  EXPECT_EQ(read_all(err),
            "!E t.lis(1): {linker} can't find address for symbol '_nope'\n"
            "!E t.lis(2): {linker} can't find address for symbol '_gone'\n");
  EXPECT_EQ(ctx.diag.error_count(), 2);
}

// The image holds the 16-bit space, and above it only bytes a record ran
// into; everything else (linear code, the top of the 32-bit space) is
// copied from the module listing, odd digits included.
TEST_F(ListingTest, BytesTheImageDoesNotHoldAreCopiedAsTheyStand) {
  define("_top", 0xFFFE);
  define("_far", 0x20000);
  define("_end", 0xFFFFFFFF);
  ctx.image.data[0xFFFE] = 0xB0;
  ctx.image.data[0xFFFF] = 0xB1;
  ctx.image.data[0x10000] = 0xB2;
  ctx.image.written[0x10000] = 1;
  EXPECT_EQ(relocate("0000  11223344  _top:: .byte\n"
                     "  .area far\n"
                     "0000  5566    _far:: ldd\n"
                     "  .area last\n"
                     "0000  778     _end::\n"),
            " FFFE  B0B1B244  _top:: .byte\n"
            "  .area far\n"
            " 20000  5566    _far:: ldd\n"
            "  .area last\n"
            " FFFFFFFF  778     _end::\n");
  EXPECT_EQ(read_all(err), "");
}

}  // namespace
}  // namespace zeld
