// Library search directories (-L), the lookup of library and startup files
// in them, and the pre-scan of the input files before pass 0 that turns
// the libraries into one extract file of the members the link needs.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace zeld {

struct LinkContext;

inline constexpr std::size_t kMaxLibraryPaths = 10;

struct LibraryState {
  LibraryState();
  LibraryState(const LibraryState&) = delete;
  LibraryState& operator=(const LibraryState&) = delete;
  ~LibraryState();

  std::vector<std::string> library_paths;  // in -L order, normalized
  std::string extract_name;                // the temporary extract file, empty until made
  std::vector<std::FILE*> streams;         // library files, open until the link ends
  void close_streams();
};

// The -L handler: stores the directory; an eleventh is a counted error.
void add_library_path(LinkContext& ctx, const std::string& directory);
// The readable path of `name`, searched through the library directories
// (last given first) unless rooted; fatal when there is none.
std::string find_in_library_paths(LinkContext& ctx, const std::string& name);
// Pre-scans the input-file list before pass 0: checks every file's kind,
// and replaces the libraries by the extract file of their needed members.
void scan_input_files(LinkContext& ctx);

}  // namespace zeld
