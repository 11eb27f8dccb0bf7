// An ELF object as a module of the link (see elf_module.h): the plan of
// its parts and global symbols, the refusals of what cannot be linked, and
// the relocated bytes of each part.
#include "elf_module.h"

#include "areas.h"

namespace zeld {
namespace {

constexpr u32 SHT_INIT_ARRAY = 14;
constexpr u32 SHT_PREINIT_ARRAY = 16;

bool linkable_type(u32 type) {
  return type == SHT_PROGBITS || type == SHT_NOBITS || (type >= SHT_INIT_ARRAY && type <= SHT_PREINIT_ARRAY);
}

std::string quoted(std::string_view name) {
  std::string text(1, '\'');
  text += printable_name(name);
  text += '\'';
  return text;
}

bool in_section(const ElfSymbol& s, std::size_t sections) {
  return s.section != SHN_UNDEF && s.section != SHN_ABS && s.section != SHN_COMMON && s.section < sections;
}

}  // namespace

std::string elf_symbol_description(const ElfObject& object, u32 symbol) {
  if (symbol >= object.symbols.size()) return strprintf("symbol %u", symbol);
  const ElfSymbol& s = object.symbols[symbol];
  if (s.type == STT_SECTION && in_section(s, object.sections.size()))
    return "section " + quoted(object.sections[s.section].name);
  return "symbol " + quoted(s.name);
}

ElfModulePlan plan_elf_module(const ElfObject& o) {
  ElfModulePlan plan;
  const std::size_t count = o.sections.size();
  plan.part_of_section.assign(count, kNoPart);

  // The sections that something names: a symbol other than the section's
  // own, or a relocation of an allocated section.
  std::vector<bool> named(count, false);
  for (const ElfSymbol& s : o.symbols)
    if (s.type != STT_SECTION && in_section(s, count)) named[s.section] = true;
  for (const ElfSection& sec : o.sections) {
    if (!sec.allocated()) continue;
    for (const ElfRelocation& r : sec.relocations)
      if (elf_relocation_use(r.type) != ElfRelocationUse::ignore && in_section(o.symbols[r.symbol], count))
        named[o.symbols[r.symbol].section] = true;
  }

  for (u32 i = 1; i < count; ++i) {
    const ElfSection& sec = o.sections[i];
    if (!sec.allocated()) continue;
    std::string name = quoted(sec.name);
    if (!linkable_type(sec.type)) {
      plan.error = strprintf("section %s: section type %u cannot be linked", name.c_str(), sec.type);
      return plan;
    }
    if (sec.size == 0 && !named[i]) continue;
    std::string_view area = elf_area_name(sec.name);
    if (area.empty()) {
      plan.error = strprintf("section %u: no name to make an area of", i);
      return plan;
    }
    if (!is_plain_name(area)) {
      plan.error = strprintf("section %s: a blank or control character in the name", name.c_str());
      return plan;
    }
    if (area.size() > kMaxNameLength) {
      plan.error = strprintf("section %s: name longer than %u characters", name.c_str(), static_cast<unsigned>(kMaxNameLength));
      return plan;
    }
    plan.part_of_section[i] = static_cast<u32>(plan.parts.size());
    plan.parts.push_back({i, area, static_cast<u8>((sec.flags & SHF_WRITE) ? AREA_RAM : 0), sec.size,
                          sec.type != SHT_NOBITS});
  }

  for (u32 n = 1; n < o.symbols.size(); ++n) {
    const ElfSymbol& s = o.symbols[n];
    bool sectioned = in_section(s, count);
    if (sectioned && s.type != STT_SECTION && !o.sections[s.section].allocated() && s.global()) {
      plan.error = strprintf("symbol %s is defined in section %s, which is not linked", quoted(s.name).c_str(),
                             quoted(o.sections[s.section].name).c_str());
      return plan;
    }
    if (!s.global()) continue;
    if (s.section == SHN_COMMON) {
      plan.error = strprintf("common symbol %s (.comm) cannot be linked; define it in .bss", quoted(s.name).c_str());
      return plan;
    }
    if (s.name.empty()) {
      plan.error = strprintf("global symbol %u has no name", n);
      return plan;
    }
    if (!is_plain_name(s.name)) {
      plan.error = strprintf("symbol %s: a blank or control character in the name", quoted(s.name).c_str());
      return plan;
    }
    ElfSymbolPlan g;
    g.symbol = n;
    g.name = s.name;
    g.defined = s.defined();
    g.absolute = s.section == SHN_ABS;
    g.value = s.value;
    if (sectioned) g.part = plan.part_of_section[s.section];
    plan.globals.push_back(g);
  }

  for (u32 i = 1; i < count; ++i) {
    const ElfSection& sec = o.sections[i];
    if (plan.part_of_section[i] == kNoPart) continue;
    for (const ElfRelocation& r : sec.relocations) {
      ElfRelocationUse use = elf_relocation_use(r.type);
      if (use == ElfRelocationUse::ignore) continue;
      std::string where = strprintf("section %s: %s at offset %#x", quoted(sec.name).c_str(),
                                    elf_relocation_name(r.type).c_str(), r.offset);
      if (use == ElfRelocationUse::refuse) {
        plan.error = where + " cannot be linked";
        return plan;
      }
      const ElfSymbol& s = o.symbols[r.symbol];
      if (s.type == STT_SECTION && elf_relocation_needs_named_symbol(r.type)) {
        plan.error = where + ": " + kElfSectionSymbolBranchText;
        return plan;
      }
      if (s.section == SHN_COMMON ||
          (in_section(s, count) && plan.part_of_section[s.section] == kNoPart)) {
        plan.error = where + " names " + elf_symbol_description(o, r.symbol) + ", which is not linked";
        return plan;
      }
    }
  }
  return plan;
}

}  // namespace zeld
