// Library search directories, and the pre-scan of the input files that
// runs once before pass 0: object files are read for their S lines, library
// archives are indexed, the members needed to resolve references are
// selected transitively and copied into one temporary extract file, and that
// file replaces every library in the input list. The passes never read a
// library.
//
//   .start                      a library holds modules framed like this
//   XH
//   H 1 areas 2 global symbols
//   M putchar.c
//   ...
//   .end
//
// Indexing and extraction read lines of up to 255 characters; a longer line
// is handled in pieces. The extract file is deleted when the link ends,
// whatever the outcome.
#include "library.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <unordered_map>

#include "context.h"
#include "output_file.h"
#include "paths.h"

namespace zeld {

namespace {

constexpr std::size_t kMaxPiece = 255;  // characters of one piece of a line
constexpr std::size_t kReadBlock = 65536;

bool is_object_name(std::string_view ext) { return ext == "o" || ext == "O"; }
bool is_library_name(std::string_view ext) { return ext == "a" || ext == "A"; }
bool is_white(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

}  // namespace

// Reads an object or library file in pieces of at most 255 characters,
// each ending after its line feed when that comes first. Reads are checked:
// a read error, or a NUL byte (the file is binary, not object text: an ELF
// object, an executable), stops the link with a message naming the file.
class PieceReader {
 public:
  PieceReader(Diagnostics& diag, std::FILE* f, std::string name)
      : diag_(diag), file_(f), name_(std::move(name)), block_(std::make_unique_for_overwrite<char[]>(kReadBlock)) {}

  // The next piece; false at the end of the file.
  bool next(std::string& piece) {
    piece.clear();
    while (piece.size() < kMaxPiece) {
      if (pos_ == len_ && !fill()) break;
      std::size_t want = std::min(kMaxPiece - piece.size(), len_ - pos_);
      const char* start = block_.get() + pos_;
      const char* newline = static_cast<const char*>(std::memchr(start, '\n', want));
      std::size_t take = newline ? static_cast<std::size_t>(newline - start) + 1 : want;
      if (const void* nul = std::memchr(start, '\0', take))
        refuse_binary(offset_ + pos_ + static_cast<std::uint64_t>(static_cast<const char*>(nul) - start));
      piece.append(start, take);
      pos_ += take;
      if (newline) break;
    }
    return !piece.empty();
  }

  // File offset of the next piece, and a jump back to one (64-bit on every
  // host, so that a library past 2 GB seeks right where long has 32 bits).
  std::uint64_t offset() const { return offset_ + pos_; }
  void seek(std::uint64_t offset) {
#ifdef _WIN32
    int failed = _fseeki64(file_, static_cast<__int64>(offset), SEEK_SET);
#else
    int failed = fseeko(file_, static_cast<off_t>(offset), SEEK_SET);
#endif
    if (failed != 0) report_read_failure(diag_, name_, errno);
    offset_ = offset;
    pos_ = len_ = 0;
  }

 private:
  bool fill() {
    offset_ += len_;
    pos_ = 0;
    errno = 0;
    len_ = std::fread(block_.get(), 1, kReadBlock, file_);
    if (len_ == 0 && std::ferror(file_)) report_read_failure(diag_, name_, errno);
    return len_ > 0;
  }

  [[noreturn]] void refuse_binary(std::uint64_t at) {
    diag_.fatal("'%s' is not an object file or library: binary data at offset %llu", name_.c_str(),
                static_cast<unsigned long long>(at));
  }

  Diagnostics& diag_;
  std::FILE* file_;
  std::string name_;
  std::unique_ptr<char[]> block_;  // not cleared: only what fread filled is read
  std::size_t pos_ = 0, len_ = 0;
  std::uint64_t offset_ = 0;  // file offset of block_[0]
};

namespace {

bool starts_with(const std::string& line, const char* prefix) { return line.rfind(prefix, 0) == 0; }

struct SymbolLine {
  std::string name;
  bool reference;
};

// "S name R..." is a reference, any other kind a definition.
SymbolLine parse_symbol_line(const std::string& line) {
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

// The library index, the members and their streams.
struct LibraryScan {
  struct Module {
    std::string name;
    std::uint64_t start_offset = 0;
    std::vector<std::string> references;
    PieceReader* stream = nullptr;
    bool selected = false;
  };
  // Name -> defining member (-1 for a definition in an object file). The
  // first definition of a name wins.
  std::unordered_map<std::string, long> index;
  std::vector<std::string> pending_references;
  std::vector<Module> modules;
  std::vector<std::unique_ptr<PieceReader>> readers;  // one per library

  void define(const std::string& name, long module) { index.emplace(name, module); }
};

LibraryState::LibraryState() = default;
LibraryState::~LibraryState() { close_streams(); }

void LibraryState::close_streams() {
  for (std::FILE* f : streams)
    if (f) std::fclose(f);
  streams.clear();
}

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

void scan_object_symbols(LibraryScan& scan, PieceReader& f) {
  std::string line;
  while (f.next(line)) {
    if (line.empty() || line[0] != 'S') continue;
    SymbolLine s = parse_symbol_line(line);
    if (s.reference)
      scan.pending_references.push_back(std::move(s.name));
    else
      scan.define(s.name, -1);
  }
}

void index_library(LinkContext& ctx, LibraryScan& scan, PieceReader& f) {
  std::string line;
  for (;;) {
    if (!f.next(line)) return;
    if (!starts_with(line, ".start")) {
      ctx.diag.error("bad library file, module start expected");
      return;
    }
    std::uint64_t start = f.offset();
    bool have_header = false, have_name = false;
    std::string name;
    std::vector<std::string> references;
    std::vector<std::string> early_definitions;  // before the frame's H line
    std::vector<std::string> definitions;
    for (;;) {
      if (!f.next(line)) ctx.diag.fatal("bad library file, module end expected '%s'", name.c_str());
      if (starts_with(line, ".end")) break;
      switch (line[0]) {
        case 'S': {
          SymbolLine s = parse_symbol_line(line);
          if (s.reference)
            references.push_back(std::move(s.name));
          else
            (have_header ? definitions : early_definitions).push_back(std::move(s.name));
          break;
        }
        case 'H':
          have_header = true;
          break;
        case 'M': {
          std::size_t i = 1;
          while (i < line.size() && is_white(line[i]) && line[i] != '\n') ++i;
          std::size_t end = line.find('\n', i);
          bool ends_line = end != std::string::npos;
          name = line.substr(i, ends_line ? end - i : std::string::npos);
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
    for (const std::string& d : early_definitions) scan.define(d, -1);
    for (const std::string& d : definitions) scan.define(d, module);
    scan.modules.push_back({name, start, std::move(references), &f, false});
  }
}

// Marks every member needed by the references, and by the references of
// the members so selected. The output order is the members' order, so a
// work list serves as well as a depth-first walk and needs no deep stack.
void select_modules(LibraryScan& scan) {
  std::vector<const std::string*> work;
  for (const std::string& r : scan.pending_references) work.push_back(&r);
  while (!work.empty()) {
    const std::string* ref = work.back();
    work.pop_back();
    auto it = scan.index.find(*ref);
    if (it == scan.index.end() || it->second < 0) continue;
    LibraryScan::Module& m = scan.modules[static_cast<std::size_t>(it->second)];
    if (m.selected) continue;
    m.selected = true;
    for (const std::string& r : m.references) work.push_back(&r);
  }
}

// Opens a file of the pre-scan: "can't open <what> '<path>'" and the
// system's reason when it fails; a folder opened for reading is refused.
std::FILE* open_scanned_file(LinkContext& ctx, const std::string& path, const char* mode, const char* what) {
  errno = 0;
  std::FILE* f = std::fopen(path.c_str(), mode);
  if (!f) ctx.diag.fatal("can't open %s '%s'%s", what, path.c_str(), system_reason(errno).c_str());
  if (mode[0] == 'r') check_not_directory(ctx.diag, f, path);
  return f;
}

// Copies the selected members into the extract file; every write is
// checked, so that the passes never read a cut member.
void write_selected_modules(LinkContext& ctx, LibraryScan& scan) {
  OutputFile out;
  out.reset(open_scanned_file(ctx, ctx.library.extract_name, "wb", "temporary file"), ctx.library.extract_name);
  std::string line;
  for (const LibraryScan::Module& m : scan.modules) {
    if (!m.selected) continue;
    m.stream->seek(m.start_offset);
    while (m.stream->next(line) && !starts_with(line, ".end"))
      if (std::fwrite(line.data(), 1, line.size(), out.get()) != line.size())
        report_write_failure(ctx.diag, out.name(), errno);
  }
  out.finish(ctx.diag);
}

}  // namespace

void scan_input_files(LinkContext& ctx) {
  LibraryScan scan;
  std::vector<std::unique_ptr<InputFile>> kept;  // the list without its libraries
  bool made_extract_name = false;
  std::size_t next = 0;
  while (next < ctx.input_files.size()) {
    std::unique_ptr<InputFile>& file = ctx.input_files[next++];
    const std::string name = file->name;
    std::optional<std::string_view> ext = extension_of(name);
    if (!ext || (!is_object_name(*ext) && !is_library_name(*ext)))
      ctx.diag.fatal("unknown file type '%s'", name.c_str());
    if (is_object_name(*ext)) {
      std::unique_ptr<std::FILE, FileCloser> f(open_scanned_file(ctx, name, "rb", "file"));
      PieceReader reader(ctx.diag, f.get(), name);
      scan_object_symbols(scan, reader);
      kept.push_back(std::move(file));
    } else {
      std::string path = find_in_library_paths(ctx, name);
      std::FILE* f = open_scanned_file(ctx, path, "rb", "library file");
      ctx.library.streams.push_back(f);
      ctx.diag.set_current_file(name);
      scan.readers.push_back(std::make_unique<PieceReader>(ctx.diag, f, path));
      index_library(ctx, scan, *scan.readers.back());
      if (!made_extract_name) {
        made_extract_name = true;
        std::string failure;
        std::optional<std::string> temp = make_temp_file_name(failure);
        // Without the extract file no library member could be linked.
        if (!temp) ctx.diag.fatal("cannot make the temporary file for library members: %s", failure.c_str());
        ctx.library.extract_name = *temp;
        // Deleted however the link ends, also when it is never used.
        ctx.files_to_delete.push_back(*temp);
      }
    }
    if (ctx.diag.error_count() != 0) break;
  }
  // After an error the files not scanned yet stay in the list as they are.
  for (std::size_t i = next; i < ctx.input_files.size(); ++i) kept.push_back(std::move(ctx.input_files[i]));
  ctx.input_files = std::move(kept);
  if (ctx.diag.error_count() != 0 || ctx.library.extract_name.empty()) return;

  ctx.input_files.push_back(std::make_unique<InputFile>(InputFile{ctx.library.extract_name, INPUT_LIBRARY_EXTRACT}));
  select_modules(scan);
  write_selected_modules(ctx, scan);
}

}  // namespace zeld
