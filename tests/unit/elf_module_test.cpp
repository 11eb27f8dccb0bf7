// An ELF object as a module: which sections become parts and which symbols
// are global, the refusals of what cannot be linked (each naming the
// section and the type), and a part's relocated bytes.
#include "elf_module.h"

#include <gtest/gtest.h>

#include "areas.h"
#include "elf_test_builder.h"

namespace zeld {
namespace {

using testing_elf::Bytes;
using testing_elf::ElfBuilder;

struct Built {
  Bytes file;
  ElfObject object;
};

Built read(ElfBuilder& b) {
  Built r{b.build(), {}};
  ElfReadResult read = read_elf_object({r.file.data(), r.file.size()});
  EXPECT_TRUE(read.ok()) << read.error;
  r.object = read.object;
  return r;
}

TEST(ElfModule, PartsAndGlobals) {
  ElfBuilder b;
  unsigned text = b.add(".text", SHT_PROGBITS, SHF_ALLOC | SHF_EXECINSTR, {0x16, 0, 0, 0x3D});
  unsigned data = b.add(".data", SHT_PROGBITS, SHF_ALLOC | SHF_WRITE);  // empty and unnamed: no part
  unsigned bss = b.add(".bss", SHT_NOBITS, SHF_ALLOC | SHF_WRITE);
  b.sections[bss - 1].nobits_size = 6;
  unsigned marker = b.add(".text.end", SHT_PROGBITS, SHF_ALLOC | SHF_EXECINSTR);  // empty, but a label lives there
  b.add(".comment", SHT_PROGBITS, 0, {'x', 0});
  b.symbol("", 0, data, STB_LOCAL);  // the section's own symbol does not make it a part
  b.symbols.back().type = STT_SECTION;
  b.symbol("_start", 1, text);
  b.symbol("text_end", 0, marker);
  unsigned ext = b.symbol("putchar", 0, SHN_UNDEF);
  b.symbol("IO_BASE", 0x800, SHN_ABS, STB_WEAK);
  b.rel(text, 1, R_M68HC11_16, ext);
  Built m = read(b);
  ElfModulePlan plan = plan_elf_module(m.object);
  ASSERT_TRUE(plan.ok()) << plan.error;
  ASSERT_EQ(plan.parts.size(), 3u);
  EXPECT_EQ(plan.parts[0].area, "text");
  EXPECT_EQ(plan.parts[0].flags, 0);
  EXPECT_TRUE(plan.parts[0].has_bytes);
  EXPECT_EQ(plan.parts[1].area, "bss");
  EXPECT_EQ(plan.parts[1].flags, AREA_RAM);
  EXPECT_EQ(plan.parts[1].size, 6u);
  EXPECT_FALSE(plan.parts[1].has_bytes);
  EXPECT_EQ(plan.parts[2].area, "text.end");
  EXPECT_EQ(plan.part_of_section[data], kNoPart);
  EXPECT_EQ(plan.part_of_section[marker], 2u);

  ASSERT_EQ(plan.globals.size(), 4u);
  EXPECT_EQ(plan.globals[0].name, "_start");
  EXPECT_TRUE(plan.globals[0].defined);
  EXPECT_EQ(plan.globals[0].part, 0u);
  EXPECT_EQ(plan.globals[0].value, 1u);
  EXPECT_EQ(plan.globals[1].part, 2u);
  EXPECT_FALSE(plan.globals[2].defined);
  EXPECT_TRUE(plan.globals[3].absolute);
  EXPECT_EQ(plan.globals[3].value, 0x800u);
  EXPECT_EQ(plan.globals[3].part, kNoPart);
}

TEST(ElfModule, RefusesWhatCannotBeLinked) {
  {
    ElfBuilder b;
    b.add(".note.x", 7, SHF_ALLOC, {1, 2, 3, 4});
    EXPECT_EQ(plan_elf_module(read(b).object).error, "section '.note.x': section type 7 cannot be linked");
  }
  {
    ElfBuilder b;
    b.add(".text", SHT_PROGBITS, SHF_ALLOC, {1});
    b.symbol("buf", 4, SHN_COMMON);
    EXPECT_EQ(plan_elf_module(read(b).object).error,
              "common symbol 'buf' (.comm) cannot be linked; define it in .bss");
  }
  {
    ElfBuilder b;
    unsigned text = b.add(".text", SHT_PROGBITS, SHF_ALLOC, {0, 0, 0, 0});
    unsigned x = b.symbol("x", 0, SHN_UNDEF);
    b.rel(text, 2, R_M68HC12_LO8XG, x);
    EXPECT_EQ(plan_elf_module(read(b).object).error, "section '.text': R_M68HC12_LO8XG at offset 0x2 cannot be linked");
    ElfBuilder c;
    text = c.add(".text", SHT_PROGBITS, SHF_ALLOC, {0, 0, 0, 0});
    x = c.symbol("x", 0, SHN_UNDEF);
    c.rel(text, 0, 42, x);
    EXPECT_EQ(plan_elf_module(read(c).object).error, "section '.text': relocation type 42 at offset 0 cannot be linked");
  }
  {
    // An XGATE branch against a section symbol has lost its target.
    ElfBuilder b;
    unsigned text = b.add(".xgate_text", SHT_PROGBITS, SHF_ALLOC | SHF_EXECINSTR, {0x25, 0xF7});
    unsigned tail = b.add(".xgate_tail", SHT_PROGBITS, SHF_ALLOC | SHF_EXECINSTR, {0x02, 0x00});
    unsigned sym = b.symbol("", 0, tail, STB_LOCAL);
    b.symbols.back().type = STT_SECTION;
    b.rel(text, 0, R_M68HC12_9_PCREL, sym);
    std::string e = plan_elf_module(read(b).object).error;
    EXPECT_EQ(e.rfind("section '.xgate_text': R_M68HC12_9_PCREL at offset 0: XGATE branch", 0), 0u) << e;
  }
  {
    // Names that could break a report's line, or that no text object could
    // write, are refused, and shown escaped.
    ElfBuilder b;
    b.add(".te\nxt", SHT_PROGBITS, SHF_ALLOC, {1});
    EXPECT_EQ(plan_elf_module(read(b).object).error, "section '.te\\x0Axt': a blank or control character in the name");
    ElfBuilder c;
    unsigned text = c.add(".text", SHT_PROGBITS, SHF_ALLOC, {1});
    c.symbol("a b\\", 0, text);
    EXPECT_EQ(plan_elf_module(read(c).object).error, "symbol 'a\\x20b\\x5C': a blank or control character in the name");
    EXPECT_EQ(printable_name("ok_name.1"), "ok_name.1");
    EXPECT_EQ(printable_name(std::string("\x7F\x80!", 3)), "\\x7F\\x80!");
  }
  {
    // A field that names a label of a section that is not linked.
    ElfBuilder b;
    unsigned text = b.add(".text", SHT_PROGBITS, SHF_ALLOC, {0, 0});
    unsigned dbg = b.add(".debug_line", SHT_PROGBITS, 0, {0, 0});
    unsigned sym = b.symbol("line0", 0, dbg, STB_LOCAL);
    b.rel(text, 0, R_M68HC11_16, sym);
    EXPECT_EQ(plan_elf_module(read(b).object).error,
              "section '.text': R_M68HC11_16 at offset 0 names symbol 'line0', which is not linked");
    ElfBuilder c;
    c.add(".debug_line", SHT_PROGBITS, 0, {0, 0});
    c.symbol("exported", 0, 1);
    EXPECT_EQ(plan_elf_module(read(c).object).error,
              "symbol 'exported' is defined in section '.debug_line', which is not linked");
  }
}

TEST(ElfModule, RelocatedBytesAndErrors) {
  ElfBuilder b;
  // ldd #counter ; brset 0,x,#1,far ; ldaa *zp
  unsigned text = b.add(".text", SHT_PROGBITS, SHF_ALLOC | SHF_EXECINSTR,
                        {0xCC, 0x00, 0x02, 0x0E, 0x00, 0x01, 0xF9, 0x96, 0x00});
  unsigned data = b.add(".data", SHT_PROGBITS, SHF_ALLOC | SHF_WRITE, {0, 0, 0, 0});
  unsigned counter = b.symbol("counter", 0, data, STB_LOCAL);
  unsigned far = b.symbol("far", 0, SHN_UNDEF);
  unsigned zp = b.symbol("zp", 0, SHN_UNDEF);
  b.rel(text, 1, R_M68HC11_16, counter);
  b.rel(text, 0, R_M68HC11_RL_JUMP, 0);
  b.rel(text, 6, R_M68HC11_PCREL_8, far);
  b.rel(text, 8, R_M68HC11_8, zp);
  Built m = read(b);
  ElfModulePlan plan = plan_elf_module(m.object);
  ASSERT_TRUE(plan.ok()) << plan.error;
  auto part_address = [](u32 part) { return part == 0 ? u32{0xC000} : u32{0x2000}; };
  auto address = [&](u32 symbol) -> u32 {
    if (symbol == far) return 0xC007 + 0x10;
    if (symbol == zp) return 0x180;  // not a direct-page address
    return elf_local_symbol_address(m.object.symbols[symbol], plan, part_address);
  };
  const ElfSection& sec = m.object.sections[text];
  std::vector<u8> bytes(sec.contents.begin(), sec.contents.end());
  std::vector<ElfFieldError> errors;
  relocate_elf_section(sec, bytes, 0xC000, address, errors);
  EXPECT_EQ(bytes, (std::vector<u8>{0xCC, 0x20, 0x02, 0x0E, 0x00, 0x01, 0x10, 0x96, 0x80}));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].offset, 8u);
  EXPECT_EQ(errors[0].status, ElfFieldStatus::byte_out_of_range);
  EXPECT_EQ(elf_symbol_description(m.object, errors[0].symbol), "symbol 'zp'");
  EXPECT_EQ(elf_symbol_description(m.object, 1), "symbol 'counter'");
}

}  // namespace
}  // namespace zeld
