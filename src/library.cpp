// Library search directories and the pre-scan of the input files.
//
// Library members are not extracted yet: libraries are checked for their
// kind and taken out of the list, so the passes read only object files.
#include "library.h"

#include <algorithm>

#include "context.h"
#include "paths.h"

namespace zeld {

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

bool is_object_name(std::string_view ext) { return ext == "o" || ext == "O"; }
bool is_library_name(std::string_view ext) { return ext == "a" || ext == "A"; }

}  // namespace

void scan_input_files(LinkContext& ctx) {
  std::vector<std::unique_ptr<InputFile>>& files = ctx.input_files;
  for (std::size_t i = 0; i < files.size();) {
    const std::string& name = files[i]->name;
    std::optional<std::string_view> ext = extension_of(name);
    if (!ext || (!is_object_name(*ext) && !is_library_name(*ext)))
      ctx.diag.fatal("unknown file type '%s'", name.c_str());
    if (is_library_name(*ext)) {
      files.erase(files.begin() + static_cast<std::ptrdiff_t>(i));
    } else {
      ++i;
    }
    if (ctx.diag.error_count() != 0) break;
  }
}

}  // namespace zeld
