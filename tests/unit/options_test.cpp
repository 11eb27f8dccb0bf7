// The option scan: every malformed option word ends in the usage text,
// --help and --version after an error or as a value, an octal value and
// options that ignore the rest of their word, the lenient build number, and
// input words and the output base name.
#include "options.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <utility>
#include <vector>

#include "context.h"
#include "test_support.h"

namespace zeld {
namespace {

using Words = std::vector<std::string>;

// One scan of the words after a program name, with its outputs captured.
struct Scan : CapturedLink {
  explicit Scan(Words args) {
    args.insert(args.begin(), "zeld12");
    status = stop_status([&] { scan_options(ctx, args); });
  }
  int status;
};

TEST(OptionScan, MalformedOptionsPrintTheUsageText) {
  const std::string usage = Scan({"-O"}).out();  // the text itself is pinned end to end
  ASSERT_TRUE(usage.starts_with("Version 7.50\nUsage: "));
  for (const char* word :
       {"-", "-x", "-a", "-aafax", "-e", "-e0x100", "-nb", "-nx:1", "-r", "-ro:1", "-rwh", "-s", "-s2_s1x",
        "-s2_s12", "-s2_s12xy", "-F0x", "-F12a", "-F08", "-F-1", "-F0x100000000", "-e:", "-e:4294967296",
        "-s2_s12:0x80000000", "-d", "-L", "-u", "-f"}) {
    Scan scan({"a.o", word});  // value options given last have no value
    EXPECT_EQ(scan.status, kExitUsage) << word;
    EXPECT_EQ(scan.out() + scan.err(), usage) << word;
  }
  EXPECT_EQ(Scan({"-O", "--version"}).status, kExitUsage);  // a malformed option before it still counts
  Scan after_error({"-bx:2.1", "--help"});                   // so does a reported error
  EXPECT_EQ(after_error.status, kExitUsage);
  EXPECT_EQ(after_error.out(), usage);
}

TEST(OptionScan, OptionValues) {
  // A value in octal, and options that ignore the rest of their word.
  Scan scan({"-s2_s12:0200", "-D", "-Dxyz", "-mapfile", "-aafa", "--verbose", "--emit_extended_labels", "-Rx", "-g",
             "-fcoff", "--print-memory-usage", "--helpful", "--version2", "-o", "--help"});
  const Options& o = scan.ctx.options;
  EXPECT_EQ(scan.status, kNoStop);
  EXPECT_EQ(o.s12_flash_kbytes, 128);
  EXPECT_EQ(o.trace_level, 2);
  EXPECT_EQ(o.emit_extended_labels, 1);
  EXPECT_TRUE(o.print_memory_usage);
  EXPECT_FALSE(o.link_startup_and_library);
  EXPECT_EQ(o.debug_level, 1);
  EXPECT_EQ(o.output_formats, unsigned{FORMAT_COFF});
  EXPECT_EQ(o.output_base_name, "--help");  // a value taken from the next word, whatever it is
  EXPECT_EQ(scan.out() + scan.err(), "");

  Scan next({"-F", "010", "-f", "ihx_coff", "-u", "@x", "-L", "l/", "-g12x"});
  EXPECT_EQ(next.ctx.options.fill_byte, 8);
  EXPECT_EQ(next.ctx.options.output_formats, unsigned{FORMAT_INTEL_HEX | FORMAT_COFF});
  EXPECT_EQ(next.ctx.options.startup_file, "@x");
  EXPECT_EQ(next.ctx.library.library_paths.size(), 1u);
  EXPECT_EQ(next.ctx.options.debug_level, 12);
  EXPECT_EQ(Scan({"-gx"}).ctx.options.debug_level, 0);
}

TEST(OptionScan, BuildNumberIsReadLikeADecimalScan) {
  const std::pair<const char*, int> cases[] = {{"-nb:", 0}, {"-nb:abc", 0}, {"-nb: 42x", 42},  // still links
                                               {"-nb:99999999999", INT_MAX}, {"-nb:-99999999999", INT_MIN}};
  for (const auto& [word, number] : cases) {
    Scan scan({word});
    EXPECT_EQ(scan.status, kNoStop) << word;
    EXPECT_EQ(scan.ctx.options.build_number, number) << word;
  }
}

TEST(OptionScan, InputWordsAndTheBaseName) {
  Scan scan({"a.o", "-lm", "", "dir.x/b", "-l"});
  Words names;
  for (const auto& file : scan.ctx.input_files) names.push_back(file->name);
  EXPECT_EQ(names, (Words{"a.o", "libm.a", "", "dir.x/b", "lib.a"}));
  for (const auto& [args, base] : std::vector<std::pair<Words, std::string>>{
           {{"..\\obj\\main", "a.o"}, "."},
           {{"", "main", "a.o"}, "main"},  // an empty word leaves it empty
           {{"a.o", "-oout.s19", "b.o"}, "out.s19"},
           {{"-o", "first", "a.o"}, "first"}})
    EXPECT_EQ(Scan(args).ctx.options.output_base_name, base) << args[0];
}

}  // namespace
}  // namespace zeld
