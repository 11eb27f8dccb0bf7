// S-record lines at the edges the end-to-end links do not reach: wide and
// dropped values, the load address and checksum in both byte orders, the
// last addresses of the S12/S12X mappings and paged records in every mode.
#include "srecord.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <initializer_list>
#include <string>

#include "context.h"
#include "relocate.h"
#include "test_support.h"

namespace zeld {
namespace {

struct SRecordTest : ::testing::Test {
  std::FILE* err = std::tmpfile();
  LinkContext ctx{err, err};

  SRecordTest() { ctx.lex.high_byte_first = true; }
  ~SRecordTest() override {
    ctx.run_cleanup();
    std::fclose(err);
  }
  // The line written for a record at `addr` (a -1 in the data is a dropped value).
  std::string line_for(u32 addr, int page = 0, std::initializer_list<int> data = {0x86, 0x01, 0x3F}) {
    load_record(ctx.reloc.record, addr, data, 0x55);
    ctx.output_file.reset(std::tmpfile());
    write_s_record(ctx, make_code_block(ctx.reloc.record, ModuleFormat{ctx.lex.high_byte_first}, page, "text"));
    return read_all(ctx.output_file.get());
  }
};

TEST_F(SRecordTest, DroppedValuesWideValuesAndTheLoadAddressInBothByteOrders) {
  EXPECT_EQ(line_for(0x4002, 0, {0x86, -1, 0x110}), "S1054002861022\n");  // only the low 8 bits of a value
  ctx.lex.high_byte_first = false;
  EXPECT_EQ(line_for(0x0040), "S106400086013FF3\n");  // values 00 40: address 0x4000
}

TEST_F(SRecordTest, MappingEdges) {
  struct Case {
    S2Mode mode;
    u32 addr;
    int page;
    const char* line;
  } cases[] = {
      {S2_S12, 0x7FFD, 0, "S2070FBFFD86013F67\n"},   // the top of the fixed page 0x3E
      {S2_S12, 0x2000, -0x0F, "S2070F200086013F03\n"},  // a linear area keeps its page byte in every mode
      {S2_CPU, 0xC123, 0x10, "S2073F812386013F4F\n"},  // extended code page 0x0F, upper half
      {S2_S12X, 0x3FFF, 0, "S1063FFF86013FF5\n"},  // below the flash: reported, written as S1
  };
  ctx.options.s12_flash_kbytes = 128;
  for (const Case& c : cases) {
    ctx.options.s2_mode = c.mode;
    EXPECT_EQ(line_for(c.addr, c.page), c.line) << std::hex << c.addr;
  }
  EXPECT_EQ(read_all(err), "!ERROR {linker} invalid address for S12X flash memory reference: 0X3FFF\n");
}

}  // namespace
}  // namespace zeld
