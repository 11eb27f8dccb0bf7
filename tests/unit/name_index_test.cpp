// The library index and the symbol table's number index: every name entered
// is found with its first value through many growths, names that were
// never entered (the empty one among them) are not, a second entry of a
// name keeps the first value, and names whose hashes are equal are told
// apart by their text.
#include "name_index.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <unordered_map>
#include <vector>

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

TEST(NumberIndex, FindsNumbersThroughGrowthAndCollidingHashes) {
  NumberIndex index;
  std::vector<std::string> names;  // the store: number n is names[n]
  auto name_of = [&](std::uint32_t n) -> std::string_view { return names[n]; };
  // Every fourth name shares one hash, so only the text tells those apart.
  auto hash = [](std::string_view name, std::uint32_t n) { return n % 4 == 0 ? 0x80000007u : name_hash(name); };
  for (std::uint32_t n = 0; n < 10'000; ++n) {
    names.push_back("_s" + std::to_string(n));
    ASSERT_EQ(index.find(names[n], hash(names[n], n), name_of), NumberIndex::kAbsent);
    index.insert_absent(hash(names[n], n), n);
  }
  EXPECT_EQ(index.size(), names.size());
  for (std::uint32_t n = 0; n < names.size(); ++n) ASSERT_EQ(index.find(names[n], hash(names[n], n), name_of), n);
  EXPECT_EQ(index.find("_s10000", 0x80000007u, name_of), NumberIndex::kAbsent);
  EXPECT_EQ(index.find("", name_hash(""), name_of), NumberIndex::kAbsent);
}

}  // namespace
}  // namespace zeld
