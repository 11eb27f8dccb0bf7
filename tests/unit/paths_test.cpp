// Host path rules in both conventions, extensions and the name hash.
#include "paths.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace zeld {
namespace {

TEST(Paths, NormalizeWindows) {
  EXPECT_EQ(normalize_path("a/b/", PathStyle::Windows), "a\\b");
  EXPECT_EQ(normalize_path("C:\\", PathStyle::Windows), "C:");
  EXPECT_EQ(normalize_path("", PathStyle::Windows), "");
  EXPECT_EQ(normalize_path("lib\\\\", PathStyle::Windows), "lib\\");
}

TEST(Paths, NormalizePosixKeepsBackslashes) {
  EXPECT_EQ(normalize_path("a/b/", PathStyle::Posix), "a/b");
  EXPECT_EQ(normalize_path("a\\b\\", PathStyle::Posix), "a\\b\\");
  EXPECT_EQ(normalize_path("/", PathStyle::Posix), "");
}

TEST(Paths, RootedWindows) {
  for (const char* p : {"\\x", "c:x", ".\\x", "..\\x", "/x", "./x", "Z:", "x:\\"})
    EXPECT_TRUE(is_rooted_path(p, PathStyle::Windows)) << p;
  for (const char* p : {"x", ".x", ".", "..", "1:x"}) EXPECT_FALSE(is_rooted_path(p, PathStyle::Windows)) << p;
}

TEST(Paths, RootedPosix) {
  for (const char* p : {"/x", "./x", "../x"}) EXPECT_TRUE(is_rooted_path(p, PathStyle::Posix)) << p;
  for (const char* p : {"x", ".x", ".", "..", "c:x", ".\\x", "\\x"})
    EXPECT_FALSE(is_rooted_path(p, PathStyle::Posix)) << p;
}

TEST(Paths, ReplaceExtension) {
  EXPECT_EQ(replace_extension("lib\\main.c", ".o"), "lib\\main.o");
  EXPECT_EQ(replace_extension("main", ".o"), "main.o");
  EXPECT_EQ(replace_extension("a.b\\main", ".o"), "a.o");
  EXPECT_EQ(strip_extension("..\\obj\\main"), ".");
  EXPECT_EQ(strip_extension("out"), "out");
  EXPECT_FALSE(extension_of("main").has_value());
  EXPECT_EQ(*extension_of("x.tar.A"), "A");
}

TEST(Paths, NameHashStaysInRange) {
  EXPECT_EQ(name_hash("ab"), 3);
  EXPECT_EQ(name_hash(""), 0);
  EXPECT_EQ(name_hash("\xff\xff"), 2);  // -2 mod 64 made non-negative
  for (int c = 0; c < 256; ++c) {
    int h = name_hash(std::string(37, static_cast<char>(c)));
    EXPECT_GE(h, 0);
    EXPECT_LT(h, 64);
  }
}

TEST(Paths, TemporaryFileIsNewEmptyAndPrefixed) {
  auto name = make_temp_file_name();
  ASSERT_TRUE(name.has_value());
  std::string base = name->substr(name->find_last_of('/') + 1);
  EXPECT_EQ(base.rfind("zol", 0), 0u);
  EXPECT_TRUE(is_readable_file(*name));
  auto other = make_temp_file_name();
  ASSERT_TRUE(other.has_value());
  EXPECT_NE(*name, *other);
  remove_file_quietly(*name);
  remove_file_quietly(*other);
  EXPECT_FALSE(is_readable_file(*name));
}

}  // namespace
}  // namespace zeld
