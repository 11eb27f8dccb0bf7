// Library search directories, and the pre-scan of the input files that
// runs once before pass 0. Every input is read here, once, into memory:
// object files are scanned for their S lines and then handed to pass 0 at
// once (its reports held until the pre-scan's own have been made), library
// archives are indexed, the members needed to resolve references are
// selected transitively, and their text, taken from the archives' buffers,
// replaces every library in the input list as one input read as
// "<library>". The passes never read a library.
//
//   .start                      a library holds modules framed like this
//   XH
//   H 1 areas 2 global symbols
//   M putchar.c
//   ...
//   .end
//
// Indexing reads lines of up to 255 characters; a longer line is handled
// in pieces.
#include "library.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "context.h"
#include "elf_input.h"
#include "file_prefetch.h"
#include "paths.h"
#include "name_index.h"
#include "source_text.h"
#include "string_arena.h"

namespace zeld {

namespace {

constexpr std::size_t kMaxPiece = 255;  // characters of one piece of a line

bool is_object_name(std::string_view ext) { return ext == "o" || ext == "O"; }
bool is_library_name(std::string_view ext) { return ext == "a" || ext == "A"; }

[[noreturn]] void refuse_binary(Diagnostics& diag, const std::string& name, std::size_t offset) {
  diag.fatal("'%s' is not an object file or library: binary data at offset %llu", name.c_str(),
             static_cast<unsigned long long>(offset));
}

// A scanned file's pieces; a NUL byte (the file is binary, not object
// text: an ELF object, an executable) stops the link with a message naming
// the file when the reading reaches it.
class ScannedText {
 public:
  ScannedText(Diagnostics& diag, std::string text, std::string name)
      : diag_(diag), text_(std::move(text)), name_(std::move(name)), pieces_(text_, kMaxPiece), nul_(first_nul(text_)) {}

  bool next(std::string_view& piece) {
    if (!pieces_.next(piece)) return false;
    if (nul_ < pieces_.offset()) refuse_binary(diag_, name_, nul_);
    return true;
  }
  std::size_t offset() const { return pieces_.offset(); }
  const std::string& text() const { return text_; }

 private:
  Diagnostics& diag_;
  std::string text_;
  std::string name_;
  PieceSplitter pieces_;
  std::size_t nul_;
};

struct SymbolLine {
  std::string_view name;
  bool reference;
};

// "S name R..." is a reference, any other kind a definition.
SymbolLine parse_symbol_line(std::string_view line) {
  std::size_t i = 1;
  while (i < line.size() && is_white(line[i])) ++i;
  std::size_t start = i;
  while (i < line.size() && !is_white(line[i])) ++i;
  SymbolLine s{line.substr(start, i - start), false};
  if (i < line.size()) ++i;  // the character that ended the name
  while (i < line.size() && is_white(line[i])) ++i;
  s.reference = i < line.size() && line[i] == 'R';
  return s;
}

}  // namespace

// The library index, the members and the archives' texts.
struct LibraryScan {
  struct Module {
    std::size_t library = 0;  // index into `libraries`
    std::size_t start = 0, end = 0;  // the member's text between its frame lines
    std::vector<std::string_view> references;  // kept in `names`
    bool selected = false;
    std::string elf_member;  // "archive(member)" for an ELF member of an ar archive
  };
  // Name -> defining member (-1 for a definition in an object file). The
  // first definition of a name wins.
  NameIndex<long> index;
  std::vector<std::string_view> pending_references;
  std::vector<Module> modules;
  std::vector<std::unique_ptr<ScannedText>> libraries;

  StringArena names;  // every name the index and the reference lists hold

  // Names that objects define or refer to in lines pass 0 reads alike are
  // not entered here: the symbol table marks them as pass 0 enters them
  // (SYM_SCANNED_DEFINITION, SYM_SCANNED_REFERENCE), and a definition
  // marked there came before every library indexed after it.
  const SymbolTable* symbols = nullptr;

  void define(std::string_view name, long module) {
    if (!index.contains(name) && !scanned_definition(name)) index.insert(names.keep(name), module);
  }
  void refer(std::string_view name) { pending_references.push_back(names.keep(name)); }

  bool scanned_definition(std::string_view name) const {
    if (!symbols || name.size() >= kMaxNameLength) return false;
    const Symbol* s = symbols->find(name);
    return s && (s->flags & SYM_SCANNED_DEFINITION);
  }
};

void add_library_path(LinkContext& ctx, const std::string& directory) {
  if (ctx.library.library_paths.size() >= kMaxLibraryPaths) {
    ctx.diag.error("No more than %d -L<path> allowed", static_cast<int>(kMaxLibraryPaths));
    return;
  }
  ctx.library.library_paths.push_back(normalize_path(directory));
}

std::string find_in_library_paths(LinkContext& ctx, const std::string& name) {
  const std::vector<std::string>& dirs = ctx.library.library_paths;
  if (!dirs.empty() && !is_rooted_path(name)) {
    for (auto it = dirs.rbegin(); it != dirs.rend(); ++it) {
      std::string candidate = *it + path_separator() + name;
      if (is_readable_file(candidate)) return candidate;
    }
  } else if (is_readable_file(name)) {
    return name;
  }
  ctx.diag.fatal("Cannot open file '%s' in library path(s)", name.c_str());
}

namespace {

void index_library(LinkContext& ctx, LibraryScan& scan, std::size_t library, const ReportPlace& place) {
  ScannedText& f = *scan.libraries[library];
  std::string_view line;
  for (;;) {
    if (!f.next(line)) return;
    if (!line.starts_with(".start")) {
      ctx.diag.error_at(place, "bad library file, module start expected");
      return;
    }
    std::size_t start = f.offset();
    bool have_header = false, have_name = false;
    std::string name;
    std::vector<std::string_view> references;
    std::vector<std::string_view> early_definitions;  // before the frame's H line
    std::vector<std::string_view> definitions;
    std::size_t end;
    for (;;) {
      end = f.offset();
      if (!f.next(line)) ctx.diag.fatal("bad library file, module end expected '%s'", name.c_str());
      if (line.starts_with(".end")) break;
      switch (line[0]) {
        case 'S': {
          SymbolLine s = parse_symbol_line(line);
          if (s.reference)
            references.push_back(scan.names.keep(s.name));
          else
            (have_header ? definitions : early_definitions).push_back(s.name);
          break;
        }
        case 'H':
          have_header = true;
          break;
        case 'M': {
          std::size_t i = 1;
          while (i < line.size() && is_white(line[i]) && line[i] != '\n') ++i;
          std::size_t stop = line.find('\n', i);
          bool ends_line = stop != std::string_view::npos;
          name = line.substr(i, ends_line ? stop - i : std::string_view::npos);
          if (!name.empty() && name.back() == '\r') name.pop_back();
          if (!ends_line || name.empty()) ctx.diag.fatal("incorrect module name format '%s'", name.c_str());
          have_name = true;
          break;
        }
        default:
          break;
      }
    }
    if (!have_header) ctx.diag.fatal("missing header");
    if (!have_name) ctx.diag.fatal("missing module");
    // Definitions are entered in reading order; those read before the
    // frame's H line carry no member and so select nothing.
    long module = static_cast<long>(scan.modules.size());
    for (std::string_view d : early_definitions) scan.define(d, -1);
    for (std::string_view d : definitions) scan.define(d, module);
    scan.modules.push_back({library, start, end, std::move(references), false, {}});
  }
}

// Marks every member needed by the references, and by the references of
// the members so selected. The output order is the members' order, so a
// work list serves as well as a depth-first walk and needs no deep stack.
void select_modules(LibraryScan& scan) {
  std::vector<std::string_view> work(std::move(scan.pending_references));
  if (scan.symbols)
    scan.symbols->for_each_entered([&](const Symbol& s) {
      if (s.flags & SYM_SCANNED_REFERENCE) work.push_back(s.name);
    });
  while (!work.empty()) {
    std::string_view ref = work.back();
    work.pop_back();
    const long* module = scan.index.find(ref);
    if (!module || *module < 0) continue;
    LibraryScan::Module& m = scan.modules[static_cast<std::size_t>(*module)];
    if (m.selected) continue;
    m.selected = true;
    work.insert(work.end(), m.references.begin(), m.references.end());
  }
}

// The selected members' texts one after the other, as pass 0 reads them.
std::string selected_members_text(const LibraryScan& scan) {
  std::size_t size = 0;
  for (const LibraryScan::Module& m : scan.modules)
    if (m.selected && m.elf_member.empty()) size += m.end - m.start;
  std::string text;
  text.reserve(size);
  for (const LibraryScan::Module& m : scan.modules)
    if (m.selected && m.elf_member.empty()) text.append(scan.libraries[m.library]->text(), m.start, m.end - m.start);
  return text;
}

// Pass 0 over an object the pre-scan has just read. Its reports are held
// (the pre-scan's come first); a stop inside it ends pass 0's early work,
// and the held reports end with that stop.
template <class Read>
void read_object_early(LinkContext& ctx, Read&& read) {
  ObjectReader& r = ctx.reader;
  if (r.early_pass0_stopped) return;
  ctx.diag.hold(true);
  try {
    read();
    ++r.early_pass0_files;
  } catch (const LinkAbort& abort) {
    r.early_pass0_stopped = true;
    ctx.diag.hold_stop(abort.status);
  }
  ctx.diag.hold(false);
}

// An ELF object of the command line: its globals into the index, then
// pass 0 over it at once, like a text object.
void scan_elf_object(LinkContext& ctx, LibraryScan& scan, const InputFile& file, std::string_view bytes) {
  ElfInput input = open_elf_input(ctx, file.name, as_bytes(bytes));
  std::vector<std::string> definitions, references;
  elf_input_symbols(input, definitions, references);
  for (const std::string& d : definitions) scan.define(d, -1);
  for (const std::string& r : references) scan.refer(r);
  read_object_early(ctx, [&] { read_elf_module(ctx, file, input); });
}

// An ar archive of ELF objects: its members become library modules, and the
// archive's symbol table (or, without one, the members' own definitions)
// says which member defines which name.
void index_archive(LinkContext& ctx, LibraryScan& scan, std::size_t library, const std::string& name) {
  std::span<const unsigned char> bytes = as_bytes(scan.libraries[library]->text());
  const unsigned char* base = bytes.data();
  ElfArchiveIndex archive = index_elf_archive(ctx, name, bytes);
  long first = static_cast<long>(scan.modules.size());
  for (ElfArchiveMember& m : archive.members) {
    std::size_t start = static_cast<std::size_t>(m.bytes.data() - base);
    std::vector<std::string_view> references;
    for (const std::string& r : m.references) references.push_back(scan.names.keep(r));
    scan.modules.push_back({library, start, start + m.bytes.size(), std::move(references), false, std::move(m.name)});
  }
  if (archive.has_symbol_table) {
    for (const auto& [symbol, member] : archive.symbols) scan.define(symbol, first + static_cast<long>(member));
  } else {
    for (std::size_t i = 0; i < archive.members.size(); ++i)
      for (const std::string& d : archive.members[i].definitions) scan.define(d, first + static_cast<long>(i));
  }
}

// The selected ELF members follow the text members, in library order and
// member order, each an input of its own.
void add_selected_elf_members(LinkContext& ctx, const LibraryScan& scan) {
  for (const LibraryScan::Module& m : scan.modules) {
    if (!m.selected || m.elf_member.empty()) continue;
    ctx.input_files.push_back(std::make_unique<InputFile>(InputFile{m.elf_member, InputKind::kArchiveMember, true}));
    const unsigned char* base = as_bytes(scan.libraries[m.library]->text()).data();
    ctx.elf.members.push_back({ctx.input_files.back().get(), std::vector<unsigned char>(base + m.start, base + m.end)});
  }
}

// Pass 0 over an input the pre-scan did not read, text or ELF.
void read_input_file(LinkContext& ctx, const InputFile& file) {
  std::string bytes;
  FileRead read{FileRead::kCannotOpen, 0};
  if (file.name.size() <= kMaxFileNameLength && file.name.find('\0') == std::string::npos)
    read = read_file(file.name, bytes);
  if (read.status == FileRead::kCannotOpen) report_open_failure(ctx.diag, file.name, "open", read.error_number);
  if (read.status != FileRead::kRead) report_read_failure(ctx.diag, file.name, read.error_number);
  if (!is_elf_input(bytes)) {
    read_object_text(ctx, file, bytes);
    return;
  }
  ElfInput input = open_elf_input(ctx, file.name, as_bytes(bytes));
  read_elf_module(ctx, file, input);
}

}  // namespace

namespace {
void add_mention(std::string_view text, std::string_view piece, std::vector<SymbolMention>& out) {
  SymbolLine s = parse_symbol_line(piece);
  out.push_back({static_cast<std::size_t>(s.name.data() - text.data()), s.name.size(), s.reference});
}
}  // namespace

void find_symbol_mentions(std::string_view text, std::vector<SymbolMention>& out) {
  PieceSplitter pieces(text, kMaxPiece);
  std::string_view line;
  while (pieces.next(line))
    if (!line.empty() && line[0] == 'S') add_mention(text, line, out);
}

// With every line (and its line feed) within a piece, the pieces are the
// lines, and the S lines are among the lines the parse kept.
void find_symbol_mentions(std::string_view text, const PreparedText& prepared, std::vector<SymbolMention>& out) {
  if (prepared.longest_line > kMaxPiece) {
    find_symbol_mentions(text, out);
    return;
  }
  auto is_symbol_line = [&](const PreparedText::Line& line) { return line.length != 0 && text[line.offset] == 'S'; };
  out.reserve(out.size() + static_cast<std::size_t>(std::count_if(prepared.lines.begin(), prepared.lines.end(), is_symbol_line)));
  for (const PreparedText::Line& line : prepared.lines) {
    if (!is_symbol_line(line)) continue;
    std::string_view piece = text.substr(line.offset, kMaxPiece);
    if (std::size_t newline = piece.find('\n'); newline != std::string_view::npos) piece = piece.substr(0, newline + 1);
    add_mention(text, piece, out);
    SymbolMention& m = out.back();
    m.reads_alike = symbol_name_reads_alike(piece.substr(1));
    if (m.reads_alike) m.hash = name_hash(text.substr(m.offset, m.length));
  }
}

bool symbol_name_reads_alike(std::string_view after_letter) {
  std::size_t i = 0;
  while (i < after_letter.size() && (after_letter[i] == ' ' || after_letter[i] == '\t')) ++i;
  if (i == after_letter.size() || is_white(after_letter[i]) || after_letter[i] == '\0') return false;
  std::size_t start = i++;
  while (i < after_letter.size() && is_name_char(static_cast<unsigned char>(after_letter[i]))) ++i;
  return i - start < kMaxNameLength && (i == after_letter.size() || is_white(after_letter[i]));
}

// Object text read ahead of the pre-scan, at most. Each file waits with
// its parse, which takes several times its text, so the window stays small.
constexpr std::size_t kObjectsAhead = std::size_t{1} << 19;

void scan_input_files(LinkContext& ctx) {
  LibraryScan scan;
  std::vector<std::unique_ptr<InputFile>> kept;  // the list without its libraries
  bool have_libraries = false;
  std::vector<std::string> object_paths;
  for (const std::unique_ptr<InputFile>& file : ctx.input_files) {
    std::optional<std::string_view> ext = extension_of(file->name);
    if (ext && is_object_name(*ext)) object_paths.push_back(file->name);
  }
  // The reading thread is the faster of the two: a small window keeps it
  // ahead at little cost in memory.
  FilePrefetch prefetch(std::move(object_paths), kObjectsAhead,
                        object_text_preparer(ctx.reader.radix, ctx.reader.format));
  scan.symbols = &ctx.symbols;
  std::size_t next = 0;
  while (next < ctx.input_files.size()) {
    std::unique_ptr<InputFile>& file = ctx.input_files[next++];
    const std::string name = file->name;
    std::optional<std::string_view> ext = extension_of(name);
    if (!ext || (!is_object_name(*ext) && !is_library_name(*ext)))
      ctx.diag.fatal("unknown file type '%s'", name.c_str());
    if (is_object_name(*ext)) {
      PrefetchedFile ahead = prefetch.take();
      FileText bytes = ahead.read ? std::move(ahead.bytes) : FileText(read_file_or_stop(ctx.diag, name, "file"));
      if (is_elf_input(bytes)) {
        file->elf = true;
        kept.push_back(std::move(file));
        scan_elf_object(ctx, scan, *kept.back(), bytes);
      } else {
        // Object text: its S lines into the index (found ahead when the
        // reading thread parsed it), then pass 0. A NUL byte makes it
        // binary data, which stops the link before anything is entered.
        std::vector<SymbolMention> found_here;
        if (!ahead.parsed) {
          if (std::size_t nul = first_nul(bytes); nul != std::string::npos) refuse_binary(ctx.diag, name, nul);
          find_symbol_mentions(bytes, found_here);
        }
        // With every line within a piece, the pre-scan's S lines are pass
        // 0's: the names both read alike are left to the symbol table.
        const bool leave_to_table = ahead.parsed && ahead.parsed->text.longest_line <= kMaxPiece;
        std::string_view text = bytes;
        // The names pass 0 is about to look up: the table's memory is
        // asked for now, so that it has arrived when they are entered.
        if (leave_to_table)
          for (const SymbolMention& m : ahead.parsed->symbols)
            if (m.reads_alike) ctx.symbols.prefetch_slot(m.hash);
        for (const SymbolMention& m : ahead.parsed ? ahead.parsed->symbols : found_here) {
          if (leave_to_table && m.reads_alike) {
            ctx.symbols.prefetch_symbol(m.hash);
            continue;
          }
          std::string_view symbol = text.substr(m.offset, m.length);
          if (m.reference)
            scan.refer(symbol);
          else
            scan.define(symbol, -1);
        }
        kept.push_back(std::move(file));
        read_object_early(ctx, [&] {
          MarkScannedSymbols mark(ctx.reader, leave_to_table);
          if (!ahead.parsed || !read_prepared_text(ctx, *kept.back(), text, ahead.parsed->text))
            read_object_text(ctx, *kept.back(), text);
        });
        // Nothing read keeps a view of the text, nor of its parse.
        prefetch.recycle(std::move(bytes), std::move(ahead.parsed));
      }
    } else {
      std::string path = find_in_library_paths(ctx, name);
      scan.libraries.push_back(
          std::make_unique<ScannedText>(ctx.diag, read_file_or_stop(ctx.diag, path, "library file"), path));
      if (is_archive_input(scan.libraries.back()->text()))
        index_archive(ctx, scan, scan.libraries.size() - 1, name);
      else
        index_library(ctx, scan, scan.libraries.size() - 1, ReportPlace{name, 0});
      have_libraries = true;
    }
    if (ctx.diag.error_count() != 0) break;
  }
  // After an error the files not scanned yet stay in the list as they are.
  for (std::size_t i = next; i < ctx.input_files.size(); ++i) kept.push_back(std::move(ctx.input_files[i]));
  ctx.input_files = std::move(kept);
  if (ctx.diag.error_count() != 0 || !have_libraries) return;

  select_modules(scan);
  ctx.library.member_text = selected_members_text(scan);
  ctx.input_files.push_back(std::make_unique<InputFile>(InputFile{"<library>", InputKind::kLibraryMembers}));
  add_selected_elf_members(ctx, scan);
}

void finish_pass0(LinkContext& ctx) {
  ObjectReader& r = ctx.reader;
  ctx.diag.release();  // ends the link here when the early work stopped
  for (std::size_t i = r.early_pass0_files; i < ctx.input_files.size(); ++i) {
    const InputFile& file = *ctx.input_files[i];
    if (file.kind == InputKind::kLibraryMembers) {
      std::string text = std::move(ctx.library.member_text);
      read_object_text(ctx, file, text);
    } else if (file.kind == InputKind::kArchiveMember) {
      read_elf_member(ctx, file);
    } else {
      read_input_file(ctx, file);
    }
  }
}

}  // namespace zeld
