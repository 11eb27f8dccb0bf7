// ELF objects and ar archives in the link. The pre-scan recognises them by
// content, takes their global symbols into the library index and indexes
// the archives; pass 0 makes each ELF object a module (a header, an area
// part per linked section, its global symbols) and keeps what pass 1
// needs: the bytes of each part and its relocations, with their targets
// resolved to symbols or parts, so that the file itself can be dropped.
// Pass 1 computes every part's bytes and hands them to the image writers
// as code blocks, in the module's place among the text modules.
//
// Reports name the file (or "archive(member)"), the section and the offset
// of a field; ELF input has no line numbers.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common.h"
#include "elf_module.h"
#include "elf_object.h"

namespace zeld {

struct LinkContext;
struct InputFile;
struct Header;
struct AreaPart;
struct Symbol;

// What pass 1 needs of one ELF module.
struct ElfLinkModule {
  struct Target {
    Symbol* global = nullptr;     // a global symbol of the link, or
    AreaPart* part = nullptr;     // the part a local symbol lies in (none: absolute)
    u32 value = 0;                // offset in the part, or the absolute value
    std::string label;            // "symbol 'x'" or "section '.y'", for messages about a local target
  };
  struct Part {
    AreaPart* part = nullptr;
    std::string section;          // for messages
    std::vector<u8> bytes;        // the section's contents, addends in place
    std::vector<ElfRelocation> relocations;
  };
  std::string file;               // as reports name it
  std::vector<Part> parts;        // the parts that hold bytes
  std::vector<Target> targets;    // by ELF symbol index
};

// One selected archive member, waiting for pass 0.
struct ElfPendingMember {
  const InputFile* input = nullptr;
  std::vector<unsigned char> bytes;
};

struct ElfInputState {
  std::vector<ElfLinkModule> modules;     // by the record stream's module number
  std::vector<ElfPendingMember> members;  // archive members not read by pass 0 yet
  std::size_t next_member = 0;            // pass 0 reads them in this order
};

// Whether an input's bytes are an ELF object this linker reads.
// A file's text buffer seen as the bytes the ELF and archive readers take.
inline std::span<const unsigned char> as_bytes(std::string_view text) {
  return {reinterpret_cast<const unsigned char*>(text.data()), text.size()};
}

bool is_elf_input(std::string_view bytes);
// Whether an input's bytes are an ar archive.
bool is_archive_input(std::string_view bytes);

// A read ELF object and its link plan; the views inside point into the
// file's bytes, which must stay alive as long as it.
struct ElfInput {
  std::string name;  // as reports name the file
  ElfObject object;
  ElfModulePlan plan;
};
// Reads and plans an ELF object; fatal when the file is damaged or holds
// something that cannot be linked.
ElfInput open_elf_input(LinkContext& ctx, const std::string& name, std::span<const unsigned char> bytes);
// Its global definitions and references, for the library index.
void elf_input_symbols(const ElfInput& input, std::vector<std::string>& definitions,
                       std::vector<std::string>& references);
// Pass 0 over it: the module, its parts and symbols, and its record entry.
void read_elf_module(LinkContext& ctx, const InputFile& file, const ElfInput& input);

// The members of an archive, for the library index. A member that is not an
// ELF object for this target is left out; one that is damaged is indexed
// with no symbols and its error kept, which stops the link only when the
// member is selected.
struct ElfArchiveMember {
  std::string name;
  std::span<const unsigned char> bytes;
  std::vector<std::string> definitions;
  std::vector<std::string> references;
  std::string error;
};
struct ElfArchiveIndex {
  std::vector<ElfArchiveMember> members;
  // The archive's symbol table as (name, index into members); empty when
  // the archive has none, and then the members' own definitions count.
  std::vector<std::pair<std::string, std::size_t>> symbols;
  bool has_symbol_table = false;
};
// Fatal when the archive itself is damaged.
ElfArchiveIndex index_elf_archive(LinkContext& ctx, const std::string& name, std::span<const unsigned char> bytes);

// Pass 0 over a selected member (its bytes kept in ctx.elf.members).
void read_elf_member(LinkContext& ctx, const InputFile& file);

// Pass 1 over module `index`.
void relocate_elf_module(LinkContext& ctx, u32 index);

}  // namespace zeld
