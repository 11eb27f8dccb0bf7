// The index of the symbol table and the library index: every name entered
// is found with its first value through many growths, names that were
// never entered (the empty one among them) are not, and a second entry of
// a name keeps the first value.
#include "name_index.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <unordered_map>

namespace zeld {
namespace {

TEST(NameIndex, AgreesWithAPlainMapThroughGrowth) {
  NameIndex<long> index;
  std::unordered_map<std::string, long> want;
  std::deque<std::string> names;  // the index views these
  unsigned seed = 7;
  for (long i = 0; i < 50'000; ++i) {
    seed = seed * 1103515245u + 12345u;
    names.push_back("_n" + std::to_string(seed % 30'000));  // many repeats
    bool fresh = want.emplace(names.back(), i).second;
    EXPECT_EQ(index.insert(names.back(), i), fresh);
  }
  EXPECT_EQ(index.size(), want.size());
  for (const auto& [name, value] : want) {
    const long* found = index.find(name);
    ASSERT_NE(found, nullptr) << name;
    EXPECT_EQ(*found, value);
  }
  EXPECT_EQ(index.find("_n30000"), nullptr);
  EXPECT_EQ(index.find(""), nullptr);
  EXPECT_TRUE(index.insert("", -1));
  EXPECT_EQ(*index.find(""), -1);
}

}  // namespace
}  // namespace zeld
