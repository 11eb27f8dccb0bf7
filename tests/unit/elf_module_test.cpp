// An ELF object as a module: which sections become parts and which symbols
// are global, and the refusals of what cannot be linked, each naming the
// section or symbol and the type.
#include "elf_module.h"

#include <gtest/gtest.h>

#include <functional>

#include "areas.h"
#include "elf_test_builder.h"

namespace zeld {
namespace {

using testing_elf::Bytes;
using testing_elf::ElfBuilder;

// The plan's names are views of the file, which travels with it.
struct Planned {
  Bytes file;
  ElfModulePlan plan;
};

Planned plan(ElfBuilder& b) {
  Planned p{b.build(), {}};
  ElfReadResult read = read_elf_object({p.file.data(), p.file.size()});
  EXPECT_TRUE(read.ok()) << read.error;
  p.plan = plan_elf_module(read.object);
  return p;
}

TEST(ElfModule, EmptySectionsBecomePartsOnlyWhenNamed) {
  ElfBuilder b;
  unsigned text = b.add(".text", SHT_PROGBITS, SHF_ALLOC | SHF_EXECINSTR, {0x16, 0, 0, 0x3D});
  unsigned data = b.add(".data", SHT_PROGBITS, SHF_ALLOC | SHF_WRITE);  // empty and unnamed: no part
  unsigned marker = b.add(".text.end", SHT_PROGBITS, SHF_ALLOC | SHF_EXECINSTR);  // empty, but a label lives there
  b.add(".comment", SHT_PROGBITS, 0, {'x', 0});
  b.symbol("", 0, data, STB_LOCAL, STT_SECTION);  // the section's own symbol does not name it
  b.symbol("text_end", 0, marker);
  b.symbol("IO_BASE", 0x800, SHN_ABS, STB_WEAK);
  Planned planned = plan(b);
  const ElfModulePlan& p = planned.plan;
  ASSERT_TRUE(p.ok()) << p.error;
  EXPECT_EQ(p.parts.size(), 2u);
  EXPECT_EQ(p.part_of_section[text], 0u);
  EXPECT_EQ(p.part_of_section[data], kNoPart);
  EXPECT_EQ(p.part_of_section[marker], 1u);
  ASSERT_EQ(p.globals.size(), 2u);
  EXPECT_EQ(p.globals[0].part, 1u);
  EXPECT_TRUE(p.globals[1].absolute);  // weak is global too
}

TEST(ElfModule, RefusesWhatCannotBeLinked) {
  struct Case {
    std::function<void(ElfBuilder&, unsigned text)> make;
    const char* error;
  };
  const Case cases[] = {
      {[](ElfBuilder& b, unsigned) { b.add(".note.x", 7, SHF_ALLOC, {1, 2, 3, 4}); },
       "section '.note.x': section type 7 cannot be linked"},
      {[](ElfBuilder& b, unsigned) { b.symbol("buf", 4, SHN_COMMON); },
       "common symbol 'buf' (.comm) cannot be linked; define it in .bss"},
      {[](ElfBuilder& b, unsigned t) { b.rel(t, 2, R_M68HC12_LO8XG, b.symbol("x", 0, SHN_UNDEF)); },
       "section '.text': R_M68HC12_LO8XG at offset 0x2 cannot be linked"},
      {[](ElfBuilder& b, unsigned t) { b.rel(t, 0, 42, b.symbol("x", 0, SHN_UNDEF)); },
       "section '.text': relocation type 42 at offset 0 cannot be linked"},
      // An XGATE branch against a section symbol has lost its target.
      {[](ElfBuilder& b, unsigned t) {
         unsigned tail = b.add(".xgate_tail", SHT_PROGBITS, SHF_ALLOC | SHF_EXECINSTR, {0x02, 0x00});
         b.rel(t, 0, R_M68HC12_9_PCREL, b.symbol("", 0, tail, STB_LOCAL, STT_SECTION)); },
       "section '.text': R_M68HC12_9_PCREL at offset 0: XGATE branch"},
      // Names that would break a report's line, shown escaped.
      {[](ElfBuilder& b, unsigned) { b.add(".te\nxt", SHT_PROGBITS, SHF_ALLOC, {1}); },
       "section '.te\\x0Axt': a blank or control character in the name"},
      {[](ElfBuilder& b, unsigned t) { b.symbol("a b\\", 0, t); },
       "symbol 'a\\x20b\\x5C': a blank or control character in the name"},
      {[](ElfBuilder& b, unsigned) { b.add("." + std::string(kMaxNameLength + 1, 'n'), SHT_PROGBITS, SHF_ALLOC, {1}); },
       "': name longer than 128 characters"},
      // Labels of a section that is not linked.
      {[](ElfBuilder& b, unsigned t) {
         unsigned dbg = b.add(".debug_line", SHT_PROGBITS, 0, {0, 0});
         b.rel(t, 0, R_M68HC11_16, b.symbol("line0", 0, dbg, STB_LOCAL)); },
       "section '.text': R_M68HC11_16 at offset 0 names symbol 'line0', which is not linked"},
      {[](ElfBuilder& b, unsigned) { b.symbol("exported", 0, b.add(".debug_line", SHT_PROGBITS, 0, {0, 0})); },
       "symbol 'exported' is defined in section '.debug_line', which is not linked"},
  };
  for (const Case& c : cases) {
    ElfBuilder b;
    c.make(b, b.add(".text", SHT_PROGBITS, SHF_ALLOC | SHF_EXECINSTR, {0, 0, 0, 0}));
    std::string e = plan(b).plan.error;
    EXPECT_NE(e.find(c.error), std::string::npos) << e;
  }
}

}  // namespace
}  // namespace zeld
