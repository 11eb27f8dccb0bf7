// Host path rules and file-name helpers; see paths.h.
#include "paths.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace zeld {

namespace {

// "c:" and the like in front of a Windows path.
bool begins_with_drive(const std::string& p, PathStyle style) {
  return style == PathStyle::Windows && p.size() >= 2 && p[1] == ':' &&
         ((p[0] >= 'a' && p[0] <= 'z') || (p[0] >= 'A' && p[0] <= 'Z'));
}

}  // namespace

char path_separator(PathStyle style) { return style == PathStyle::Windows ? '\\' : '/'; }

std::string normalize_path(std::string_view path, PathStyle style) {
  std::string out(path);
  char sep = path_separator(style);
  if (style == PathStyle::Windows) {
    for (char& c : out)
      if (c == '/') c = '\\';
  }
  if (!out.empty() && out.back() == sep) out.pop_back();
  return out;
}

bool is_rooted_path(std::string_view path, PathStyle style) {
  std::string p = normalize_path(path, style);
  char sep = path_separator(style);
  if (!p.empty() && p[0] == sep) return true;
  if (begins_with_drive(p, style)) return true;
  if (p.size() >= 2 && p[0] == '.' && p[1] == sep) return true;
  if (p.size() >= 3 && p[0] == '.' && p[1] == '.' && p[2] == sep) return true;
  return false;
}

std::string folder_of(std::string_view name, PathStyle style) {
  const std::string p = normalize_path(name, style);
  const bool drive = begins_with_drive(p, style);
  const std::size_t root = drive ? 2 : 0;  // where a separator would make the root
  const std::size_t sep = p.rfind(path_separator(style));
  if (sep == std::string::npos || sep < root) return drive ? p.substr(0, 2) : ".";
  return p.substr(0, sep == root ? root + 1 : sep);
}

std::string replace_extension(std::string_view name, std::string_view extension) {
  std::string out(name.substr(0, name.rfind('.')));
  out += extension;
  return out;
}

std::string strip_extension(std::string_view name) {
  return std::string(name.substr(0, name.rfind('.')));
}

std::optional<std::string_view> extension_of(std::string_view name) {
  std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return std::nullopt;
  return name.substr(dot + 1);
}

void remove_file_quietly(const std::string& name) {
#ifdef _WIN32
  _unlink(name.c_str());
#else
  unlink(name.c_str());
#endif
}

bool is_readable_file(const std::string& name) {
#ifdef _WIN32
  return _access(name.c_str(), 4) == 0;
#else
  return access(name.c_str(), R_OK) == 0;
#endif
}

}  // namespace zeld
