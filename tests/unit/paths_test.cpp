// Host path rules in both conventions, and extensions.
#include "paths.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace zeld {
namespace {

constexpr PathStyle W = PathStyle::Windows, P = PathStyle::Posix;

TEST(Paths, NormalizeInBothConventions) {
  const std::tuple<const char*, PathStyle, const char*> cases[] = {
      {"a/b/", W, "a\\b"}, {"C:\\", W, "C:"},         {"", W, ""},       {"lib\\\\", W, "lib\\"},
      {"a/b/", P, "a/b"},  {"a\\b\\", P, "a\\b\\"}, {"/", P, ""},  // POSIX keeps backslashes
  };
  for (const auto& [path, style, expected] : cases) EXPECT_EQ(normalize_path(path, style), expected) << path;
}

TEST(Paths, RootedInBothConventions) {
  for (const char* p : {"\\x", "c:x", ".\\x", "..\\x", "/x", "./x", "Z:", "x:\\"})
    EXPECT_TRUE(is_rooted_path(p, W)) << p;
  for (const char* p : {"x", ".x", ".", "..", "1:x"}) EXPECT_FALSE(is_rooted_path(p, W)) << p;
  for (const char* p : {"/x", "./x", "../x"}) EXPECT_TRUE(is_rooted_path(p, P)) << p;
  for (const char* p : {"x", ".x", ".", "..", "c:x", ".\\x", "\\x"}) EXPECT_FALSE(is_rooted_path(p, P)) << p;
}

TEST(Paths, FolderInBothConventions) {
  const std::tuple<const char*, PathStyle, const char*> cases[] = {
      {"a.map", P, "."},    {"out/a.map", P, "out"},   {"/a.map", P, "/"},       {"a\\b.map", P, "."},
      {"a.map", W, "."},    {"out/a.map", W, "out"},   {"\\a.map", W, "\\"},     {"c:a.map", W, "c:"},
      {"c:\\a.map", W, "c:\\"}, {"c:\\x\\a.map", W, "c:\\x"},
  };
  for (const auto& [name, style, expected] : cases) EXPECT_EQ(folder_of(name, style), expected) << name;
}

TEST(Paths, ReplaceExtension) {
  EXPECT_EQ(replace_extension("lib\\main.c", ".o"), "lib\\main.o");
  EXPECT_EQ(replace_extension("main", ".o"), "main.o");
  EXPECT_EQ(replace_extension("a.b\\main", ".o"), "a.o");
  EXPECT_EQ(strip_extension("..\\obj\\main"), ".");
  EXPECT_FALSE(extension_of("main").has_value());
  EXPECT_EQ(*extension_of("x.tar.A"), "A");
}

}  // namespace
}  // namespace zeld
