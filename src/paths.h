// File-name helpers shared by the option scan, the library search, the
// clean-up list and the reports: the host's path rules (separator, rooted
// paths), extension replacement, and removing and probing files.
//
// Two conventions are supported so that both can be tested on any host:
//   Posix:   '/' separates; rooted means "/x", "./x" or "../x".
//   Windows: '\' separates ('/' is turned into it); rooted means "\x",
//            "c:x", ".\x" or "..\x".
// "." and ".." alone are never rooted. The host's convention is the default.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zeld {

enum class PathStyle { Posix, Windows };

#ifdef _WIN32
inline constexpr PathStyle kHostPathStyle = PathStyle::Windows;
#else
inline constexpr PathStyle kHostPathStyle = PathStyle::Posix;
#endif

char path_separator(PathStyle style = kHostPathStyle);

// A copy with the style's separator throughout and one trailing separator
// removed. Used for -L directories.
std::string normalize_path(std::string_view path, PathStyle style = kHostPathStyle);

// True when the normalized path must not be searched in library directories.
bool is_rooted_path(std::string_view path, PathStyle style = kHostPathStyle);

// The folder that holds the file `name`: "." for a name without one, the
// root itself for a file in it ("/" or "\\", "c:" or "c:\\").
std::string folder_of(std::string_view name, PathStyle style = kHostPathStyle);

// Replaces everything from the last '.' on by `extension` (which carries
// its point), or appends it when there is no '.'. The point may stand in a
// directory name: "a.b/main" with ".o" gives "a.o".
std::string replace_extension(std::string_view name, std::string_view extension);

// Text before the last '.', or the whole name without one.
std::string strip_extension(std::string_view name);

// Text after the last '.', or nullopt when the name has none.
std::optional<std::string_view> extension_of(std::string_view name);

// Deletes a file (never a directory), ignoring failures.
void remove_file_quietly(const std::string& name);

// True when the file exists and can be read.
bool is_readable_file(const std::string& name);

}  // namespace zeld
