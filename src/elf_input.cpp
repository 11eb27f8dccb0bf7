// ELF objects and ar archives in the link (see elf_input.h): reading and
// planning an object, indexing an archive, pass 0 over a module and pass 1
// over what pass 0 kept of it.
#include "elf_input.h"

#include <algorithm>
#include <cstring>

#include "ar_archive.h"
#include "areas.h"
#include "context.h"
#include "elf_relocation.h"
#include "relocate.h"
#include "symbols.h"

namespace zeld {

namespace {

// The module's name: the file's (or member's) name without its folders.
std::string module_name(const std::string& name) {
  std::size_t slash = name.find_last_of("/\\");
  std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
  std::size_t open = base.rfind('(');
  if (open != std::string::npos && !base.empty() && base.back() == ')')
    base = base.substr(open + 1, base.size() - open - 2);  // archive(member): the member
  return base;
}

std::string describe_target(const ElfLinkModule& m, u32 symbol) {
  const ElfLinkModule::Target& t = m.targets[symbol];
  if (t.global) return "symbol '" + std::string(t.global->name) + "'";
  return t.label;
}

// Reports a part whose code lies above 0xFFFF outside a linear or extended
// code page area, as for the records of text objects.
bool above_cpu_space(LinkContext& ctx, const Area& area, u32 address) {
  if ((area.flags & (AREA_LINEAR | AREA_EXT_CODE)) || address <= 0xFFFF) return false;
  ctx.diag.error_at(ctx.reader.place, "code of area '%s' placed at %#x, above the 16-bit address space", area.name.c_str(), address);
  return true;
}

}  // namespace

bool is_elf_input(std::string_view bytes) { return is_elf_object(as_bytes(bytes)); }
bool is_archive_input(std::string_view bytes) { return is_ar_archive(as_bytes(bytes)); }

ElfInput open_elf_input(LinkContext& ctx, const std::string& name, std::span<const unsigned char> bytes) {
  ElfInput in;
  in.name = name;
  ElfReadResult read = read_elf_object(bytes);
  if (!read.ok()) ctx.diag.fatal("'%s': %s", name.c_str(), read.error.c_str());
  in.object = std::move(read.object);
  in.plan = plan_elf_module(in.object);
  if (!in.plan.ok()) ctx.diag.fatal("'%s': %s", name.c_str(), in.plan.error.c_str());
  return in;
}

void elf_input_symbols(const ElfInput& input, std::vector<std::string>& definitions,
                       std::vector<std::string>& references) {
  for (const ElfSymbolPlan& g : input.plan.globals) (g.defined ? definitions : references).emplace_back(g.name);
}

void read_elf_module(LinkContext& ctx, const InputFile& file, const ElfInput& input) {
  ObjectReader& r = ctx.reader;
  const ElfObject& object = input.object;
  const ElfModulePlan& plan = input.plan;
  r.records.add_file_start(static_cast<u32>(r.files.size()));
  r.files.push_back(&file);
  r.place = ReportPlace{display_name(file), ReportPlace::kNoLine};

  Header& header = add_module_header(ctx, file, static_cast<u32>(plan.parts.size()),
                                     static_cast<u32>(plan.globals.size()));
  header.name = module_name(file.name);
  r.current_header = &header;
  r.current_area_part = nullptr;
  clear_page_state(ctx);
  r.records.add_event(RecordKind::kHeader);

  std::vector<AreaPart*> parts;
  parts.reserve(plan.parts.size());
  for (const ElfPartPlan& p : plan.parts) {
    AreaPart* part = add_area_part(ctx, &header, p.area, p.size, p.flags);
    parts.push_back(part);
    r.current_area_part = part;
    default_page_state(ctx);
    r.records.add_event(RecordKind::kArea);
  }

  ElfLinkModule module;
  module.file = input.name;
  module.targets.resize(object.symbols.size());
  for (const ElfSymbolPlan& g : plan.globals) {
    AreaPart* part = g.part != kNoPart ? parts[g.part] : r.current_area_part;
    int kind = !g.defined ? 'R' : g.absolute ? 'E' : 'D';
    module.targets[g.symbol].global = enter_module_symbol(ctx, &header, part, g.name, kind, 0, g.defined ? g.value : 0);
  }
  for (u32 n = 0; n < object.symbols.size(); ++n) {
    ElfLinkModule::Target& t = module.targets[n];
    if (t.global) continue;
    const ElfSymbol& s = object.symbols[n];
    t.value = s.value;
    if (s.section != SHN_ABS && s.section < plan.part_of_section.size() && plan.part_of_section[s.section] != kNoPart)
      t.part = parts[plan.part_of_section[s.section]];
  }

  for (std::size_t i = 0; i < plan.parts.size(); ++i) {
    const ElfPartPlan& p = plan.parts[i];
    if (!p.has_bytes || p.size == 0) continue;
    const ElfSection& section = object.sections[p.section];
    ElfLinkModule::Part part{parts[i], printable_name(section.name),
                             std::vector<u8>(section.contents.begin(), section.contents.end()), {}};
    for (const ElfRelocation& rel : section.relocations) {
      if (elf_relocation_use(rel.type) != ElfRelocationUse::apply) continue;
      part.relocations.push_back(rel);
      ElfLinkModule::Target& t = module.targets[rel.symbol];
      if (!t.global && t.label.empty()) t.label = elf_symbol_description(object, rel.symbol);
    }
    module.parts.push_back(std::move(part));
  }

  r.records.add_module(static_cast<u32>(ctx.elf.modules.size()));
  ctx.elf.modules.push_back(std::move(module));
  r.records.add_file_end(0);
}

ElfArchiveIndex index_elf_archive(LinkContext& ctx, const std::string& name, std::span<const unsigned char> bytes) {
  ArReadResult read = read_ar_archive(bytes);
  if (!read.ok()) ctx.diag.fatal("'%s': %s", name.c_str(), read.error.c_str());
  ElfArchiveIndex index;
  constexpr std::size_t kNone = ~std::size_t{0};
  std::vector<std::size_t> slot(read.archive.members.size(), kNone);
  for (std::size_t i = 0; i < read.archive.members.size(); ++i) {
    const ArMember& m = read.archive.members[i];
    if (!is_elf_object(m.contents)) continue;
    slot[i] = index.members.size();
    ElfArchiveMember member;
    member.name = name + "(" + printable_name(m.name) + ")";
    member.bytes = m.contents;
    ElfReadResult object = read_elf_object(m.contents);
    if (object.ok()) {
      ElfModulePlan plan = plan_elf_module(object.object);
      for (const ElfSymbolPlan& g : plan.globals)
        (g.defined ? member.definitions : member.references).emplace_back(g.name);
      member.error = plan.error;
    } else {
      member.error = object.error;
    }
    index.members.push_back(std::move(member));
  }
  index.has_symbol_table = read.archive.has_symbol_table;
  for (const ArSymbol& s : read.archive.symbols)
    if (slot[s.member] != kNone) index.symbols.emplace_back(std::string(s.name), slot[s.member]);
  return index;
}

void read_elf_member(LinkContext& ctx, const InputFile& file) {
  // Pass 0 reads the members in the order they were added, so the next one
  // is the one asked for.
  std::vector<ElfPendingMember>& pending = ctx.elf.members;
  std::size_t& next = ctx.elf.next_member;
  ZELD_CHECK(ctx.diag, next < pending.size() && pending[next].input == &file, "archive members read in order",
             "elf_input");
  std::vector<unsigned char> bytes = std::move(pending[next].bytes);
  pending[next++].bytes = {};
  ElfInput input = open_elf_input(ctx, file.name, bytes);
  read_elf_module(ctx, file, input);
}

void relocate_elf_module(LinkContext& ctx, u32 index) {
  if (index >= ctx.elf.modules.size()) return;
  ElfLinkModule& m = ctx.elf.modules[index];
  ctx.reader.place = ReportPlace{m.file, ReportPlace::kNoLine};
  for (ElfLinkModule::Part& p : m.parts) {
    const Area& area = *p.part->area;
    const u32 base = p.part->address;
    for (const ElfRelocation& rel : p.relocations) {
      const ElfLinkModule::Target& t = m.targets[rel.symbol];
      u32 target = t.global ? symbol_address(ctx, *t.global) : (t.part ? t.part->address : 0) + t.value;
      u32 size = elf_relocation_field_size(rel.type);
      ElfFieldStatus status = apply_elf_relocation(rel.type, std::span<u8>(p.bytes).subspan(rel.offset, size), target, base);
      if (status != ElfFieldStatus::ok)
        ctx.diag.error_at(ctx.reader.place, "section '%s' offset %#x: %s for %s: %s", p.section.c_str(), rel.offset,
                       elf_relocation_name(rel.type).c_str(), describe_target(m, rel.symbol).c_str(),
                       elf_field_status_text(status));
    }
    // Blocks of at most a record's size that do not cross a 64 KB boundary.
    const u32 size = static_cast<u32>(p.bytes.size());
    for (u32 offset = 0; offset < size;) {
      u32 address = base + offset;
      if (above_cpu_space(ctx, area, address)) break;
      u32 n = std::min<u32>({size - offset, static_cast<u32>(kMaxRecordValues), 0x10000 - (address & 0xFFFF)});
      CodeBlock block;
      block.address = address & 0xFFFF;
      block.output_page = output_page_of(area.flags, address);
      block.area_name = area.name;
      std::memcpy(block.bytes.data(), p.bytes.data() + offset, n);
      block.size = static_cast<int>(n);
      emit_code_block(ctx, block);
      offset += n;
    }
    p.bytes = {};  // pass 1 runs once
  }
}

}  // namespace zeld
