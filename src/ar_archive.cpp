// Reading an ar archive from its bytes (see ar_archive.h): the members one
// after another, each behind a 60-byte header and padded to an even
// offset; the special members "/" (symbol table) and "//" (long names) are
// taken apart here and not listed as members.
#include "ar_archive.h"

#include <algorithm>

#include "elf_object.h"

namespace zeld {
namespace {

constexpr std::string_view kMagic = "!<arch>\n";
constexpr std::size_t kHeaderSize = 60;

std::string_view field(std::span<const unsigned char> bytes, std::size_t at, std::size_t size) {
  return {reinterpret_cast<const char*>(bytes.data()) + at, size};
}

// A decimal header field: digits, then blanks. Returns false for anything else.
bool decimal(std::string_view text, u64& value) {
  value = 0;
  std::size_t i = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (value > (u64{1} << 40)) return false;
    value = value * 10 + static_cast<u64>(text[i] - '0');
  }
  if (i == 0) return false;
  for (; i < text.size(); ++i)
    if (text[i] != ' ') return false;
  return true;
}

std::string_view trim_right(std::string_view text) {
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

u32 be32(const unsigned char* p) {
  return (u32{p[0]} << 24) | (u32{p[1]} << 16) | (u32{p[2]} << 8) | u32{p[3]};
}

struct Raw {
  std::string_view name;  // the header's name field, blanks trimmed
  u64 header_offset;
  std::span<const unsigned char> contents;
};

std::string read_symbol_table(std::span<const unsigned char> table, u64 at, const std::vector<ArMember>& members,
                              std::vector<ArSymbol>& symbols) {
  if (table.size() < 4) return strprintf("symbol table at file offset %#llx cut short", static_cast<unsigned long long>(at));
  u64 count = be32(table.data());
  if (count > (table.size() - 4) / 4)
    return strprintf("symbol table at file offset %#llx: %llu entries do not fit its %llu bytes",
                     static_cast<unsigned long long>(at), static_cast<unsigned long long>(count),
                     static_cast<unsigned long long>(table.size()));
  std::string_view names(reinterpret_cast<const char*>(table.data()) + 4 + count * 4, table.size() - 4 - count * 4);
  symbols.reserve(count);
  for (u64 i = 0; i < count; ++i) {
    u64 offset = be32(table.data() + 4 + i * 4);
    auto it = std::lower_bound(members.begin(), members.end(), offset,
                               [](const ArMember& m, u64 o) { return m.header_offset < o; });
    if (it == members.end() || it->header_offset != offset)
      return strprintf("symbol table at file offset %#llx: entry %llu names offset %#llx, where no member begins",
                       static_cast<unsigned long long>(at), static_cast<unsigned long long>(i),
                       static_cast<unsigned long long>(offset));
    std::size_t end = names.find('\0');
    if (end == std::string_view::npos)
      return strprintf("symbol table at file offset %#llx: names end before entry %llu",
                       static_cast<unsigned long long>(at), static_cast<unsigned long long>(i));
    symbols.push_back({names.substr(0, end), static_cast<std::size_t>(it - members.begin())});
    names.remove_prefix(end + 1);
  }
  return {};
}

std::string read_archive(std::span<const unsigned char> bytes, ArArchive& ar) {
  if (!is_ar_archive(bytes)) return "no archive magic";
  std::vector<Raw> raws;
  u64 pos = kMagic.size();
  while (pos < bytes.size()) {
    if (bytes.size() - pos < kHeaderSize)
      return strprintf("member header at file offset %#llx cut short", static_cast<unsigned long long>(pos));
    u64 size = 0;
    if (field(bytes, pos + 58, 2) != "`\n")
      return strprintf("member header at file offset %#llx has no end marker", static_cast<unsigned long long>(pos));
    if (!decimal(field(bytes, pos + 48, 10), size))
      return strprintf("member header at file offset %#llx: size '%s' is not a number",
                       static_cast<unsigned long long>(pos), std::string(trim_right(field(bytes, pos + 48, 10))).c_str());
    u64 data = pos + kHeaderSize;
    if (size > bytes.size() - data)
      return strprintf("member at file offset %#llx: size %llu reaches past the end of the archive",
                       static_cast<unsigned long long>(pos), static_cast<unsigned long long>(size));
    raws.push_back({trim_right(field(bytes, pos, 16)), pos, bytes.subspan(data, size)});
    pos = data + size + (size & 1);
  }

  std::string_view long_names;
  const Raw* symbol_table = nullptr;
  for (const Raw& r : raws) {
    if (r.name == "//") {
      long_names = std::string_view(reinterpret_cast<const char*>(r.contents.data()), r.contents.size());
      continue;
    }
    if (r.name == "/") {
      symbol_table = &r;
      continue;
    }
    if (r.name == "/SYM64/") return "64-bit archive symbol tables are not supported";
    if (r.name == "__.SYMDEF" || r.name == "__.SYMDEF SORTED") continue;  // BSD index: members are read instead
    ArMember m{r.name, r.header_offset, r.contents};
    unsigned long long at = r.header_offset;
    if (r.name.size() > 1 && r.name[0] == '/') {
      u64 index = 0;
      if (!decimal(r.name.substr(1), index) || index >= long_names.size())
        return strprintf("member at file offset %#llx: long name '%s' not in the name table", at,
                         printable_name(r.name).c_str());
      std::string_view rest = long_names.substr(index);
      std::size_t end = rest.find('\n');
      if (end == std::string_view::npos)
        return strprintf("member at file offset %#llx: long name runs past the name table", at);
      m.name = rest.substr(0, end);
      if (!m.name.empty() && m.name.back() == '/') m.name.remove_suffix(1);
    } else if (r.name.starts_with("#1/")) {
      u64 length = 0;
      if (!decimal(r.name.substr(3), length) || length > r.contents.size())
        return strprintf("member at file offset %#llx: name length '%s' does not fit the member", at,
                         printable_name(r.name.substr(3)).c_str());
      std::string_view name(reinterpret_cast<const char*>(r.contents.data()), length);
      m.name = name.substr(0, name.find('\0'));
      m.contents = r.contents.subspan(length);
    } else if (!r.name.empty() && r.name.back() == '/') {
      m.name.remove_suffix(1);
    }
    ar.members.push_back(m);
  }
  if (symbol_table) {
    ar.has_symbol_table = true;
    return read_symbol_table(symbol_table->contents, symbol_table->header_offset, ar.members, ar.symbols);
  }
  return {};
}

}  // namespace

bool is_ar_archive(std::span<const unsigned char> bytes) {
  return bytes.size() >= kMagic.size() && field(bytes, 0, kMagic.size()) == kMagic;
}

ArReadResult read_ar_archive(std::span<const unsigned char> bytes) {
  ArReadResult result;
  result.error = read_archive(bytes, result.archive);
  if (!result.ok()) result.archive = ArArchive{};
  return result;
}

}  // namespace zeld
