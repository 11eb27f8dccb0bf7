// Fuzz target "elf": GNU-assembled inputs. The input is one file, an ELF
// relocatable object or an ar archive of them. The readers are called on it
// directly, and the target aborts when one hands back something that breaks
// its promises: a view outside the input, a relocation whose symbol or field
// is not where the reader said it checked, a field the relocation
// arithmetic then refuses, or a refusal without a message. Then the file is
// linked whole (zeld12 -R -m main.o a.o, or main.o libz.a for an archive,
// main.o a text object that needs a few names of the seeds) with the
// harness's checks.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "ar_archive.h"
#include "harness.h"
#include "elf_object.h"
#include "elf_relocation.h"

namespace {

using zeld::u32;
using zeld::u8;

struct Input {
  const unsigned char* begin;
  const unsigned char* end;
};

void fail(const char* what) {
  std::fprintf(stderr, "fuzz_elf check failed: %s\n", what);
  std::abort();
}

void inside(const Input& in, const void* p, std::size_t size, const char* what) {
  auto* b = static_cast<const unsigned char*>(p);
  if (size == 0) return;
  if (b < in.begin || b > in.end || size > static_cast<std::size_t>(in.end - b)) fail(what);
}

void exercise_object(const Input& in, std::span<const unsigned char> bytes) {
  zeld::ElfReadResult r = zeld::read_elf_object(bytes);
  if (!r.ok()) {
    if (!r.object.sections.empty() || !r.object.symbols.empty()) fail("a refused object keeps contents");
    return;
  }
  if (!zeld::is_elf_object(bytes)) fail("an object read without its header test");
  const zeld::ElfObject& o = r.object;
  for (const zeld::ElfSymbol& s : o.symbols) inside(in, s.name.data(), s.name.size(), "symbol name");
  std::vector<u8> field;
  for (const zeld::ElfSection& sec : o.sections) {
    inside(in, sec.name.data(), sec.name.size(), "section name");
    inside(in, sec.contents.data(), sec.contents.size(), "section contents");
    for (const zeld::ElfRelocation& rel : sec.relocations) {
      if (rel.symbol >= o.symbols.size()) fail("relocation symbol out of range");
      if (!sec.allocated() || zeld::elf_relocation_use(rel.type) != zeld::ElfRelocationUse::apply) continue;
      u32 size = zeld::elf_relocation_field_size(rel.type);
      if (sec.contents.size() < rel.offset || sec.contents.size() - rel.offset < size)
        fail("relocation field outside its section");
      field.assign(sec.contents.begin() + rel.offset, sec.contents.begin() + rel.offset + size);
      u32 target = o.symbols[rel.symbol].value * 7u + rel.offset;
      if (zeld::apply_elf_relocation(rel.type, field, target, rel.offset) == zeld::ElfFieldStatus::not_applicable)
        fail("a checked field refused by the arithmetic");
    }
  }
}

}  // namespace

void link_whole(const std::uint8_t* data, std::size_t size, bool archive) {
  static const char* const kMain =
      "XH\nH 1 areas 5 global symbols\nM main\nA text size 2 flags 0\nS __start Def0000\n"
      "S main Ref0000\nS op_add Ref0000\nS uart_puts Ref0000\nS xg_common Ref0000\n"
      "T 00 00 3F 3F\nR 00 00 00 00\n";
  zeld_fuzz::LinkCase link;
  const char* name = archive ? "libz.a" : "a.o";
  link.words = {"zeld12", "-R", "-m", "main.o", name};
  link.files.emplace_back("main.o", kMain);
  link.files.emplace_back(name, std::string(reinterpret_cast<const char*>(data), size));
  zeld_fuzz::run_checked_link(link);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in{data, data + size};
  std::span<const unsigned char> bytes(data, size);
  if (!zeld::is_ar_archive(bytes)) {
    exercise_object(in, bytes);
    link_whole(data, size, false);
    return 0;
  }
  zeld::ArReadResult a = zeld::read_ar_archive(bytes);
  if (!a.ok()) {
    if (a.error.empty()) fail("refusal without a message");
    link_whole(data, size, true);
    return 0;
  }
  for (const zeld::ArMember& m : a.archive.members) {
    inside(in, m.name.data(), m.name.size(), "member name");
    inside(in, m.contents.data(), m.contents.size(), "member contents");
    exercise_object(in, m.contents);
  }
  for (const zeld::ArSymbol& s : a.archive.symbols) {
    inside(in, s.name.data(), s.name.size(), "archive symbol name");
    if (s.member >= a.archive.members.size()) fail("archive symbol names no member");
  }
  link_whole(data, size, true);
  return 0;
}
