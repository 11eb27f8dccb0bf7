// Output files: whatever way a writer puts its text, and however much of
// it, the file holds exactly that once finished.
#include "output_file.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "test_support.h"

namespace zeld {
namespace {

class OutputFileTest : public LinkTest {};

TEST_F(OutputFileTest, ManyBuffersOfMixedWritesArriveInOrder) {
  TestFolder folder("output");
  std::string expected;
  {
    OutputFile out = OutputFile::create(ctx.diag, folder.path("big"), "txt", "w");
    for (int i = 0; i < 60000; ++i) {
      put(out.get(), "S1");
      put_hex(out.get(), static_cast<u32>(i), 6);
      std::fprintf(out.get(), " %d\n", i);
      char hex[8];
      expected += "S1" + std::string(hex_digits(static_cast<u32>(i), 6, hex)) + " " + std::to_string(i) + "\n";
      if (i == 30000) {  // one write larger than any buffer
        std::string block(700000, 'x');
        block.back() = '\n';
        put(out.get(), block);
        expected += block;
      }
    }
    out.finish(ctx.diag);
  }
  std::ifstream in(folder.path("big.txt"), std::ios::binary);
  std::stringstream got;
  got << in.rdbuf();
  EXPECT_EQ(got.str(), host_text(expected));
  EXPECT_EQ(err(), "");
}

}  // namespace
}  // namespace zeld
