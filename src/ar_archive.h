// Reader of "!<arch>\n" archives, the libraries that GNU ar makes from ELF
// objects. It works on the bytes of the whole archive, which the caller owns
// and keeps alive: member names and contents are views into them (a long
// name is a view into the "//" table). The archive's symbol table (the "/"
// member: a big-endian count, that many member header offsets, then the
// NUL-terminated names) is turned into member indexes, so that library
// member selection can go from a wanted name straight to its member.
//
// Member names: GNU short names end in '/', long ones are "/<offset>" into
// the "//" member, where each ends in "/\n"; BSD "#1/<length>" names follow
// the header. Every header, size and offset is checked; a malformed archive
// gives an error text with the file offset.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common.h"

namespace zeld {

struct ArMember {
  std::string_view name;
  u64 header_offset = 0;  // of the member's 60-byte header in the archive
  std::span<const unsigned char> contents;
};

struct ArSymbol {
  std::string_view name;
  std::size_t member = 0;  // index into ArArchive::members
};

struct ArArchive {
  std::vector<ArMember> members;  // in archive order, without the special members
  std::vector<ArSymbol> symbols;  // in symbol table order
  bool has_symbol_table = false;
};

struct ArReadResult {
  ArArchive archive;
  std::string error;  // empty when the archive was read
  bool ok() const { return error.empty(); }
};

// Whether the bytes begin with the archive magic "!<arch>\n".
bool is_ar_archive(std::span<const unsigned char> bytes);

ArReadResult read_ar_archive(std::span<const unsigned char> bytes);

}  // namespace zeld
