#include "options.h"

#include <gtest/gtest.h>

#include <climits>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "context.h"

namespace zeld {
namespace {

using Words = std::vector<std::string>;
constexpr int kNoStop = -1000;

const char* const kUsageText =
    "Version 7.50\n"
    "Usage: [options] file [file ...] [-l<f>]\n"
    "  @<file> Obtain options from file\n"
    "  -btext:<address range>\n"
    "  -bdata:<address range>\n"
    "  -b<name>:<address range>\n"
    "  -d       global symbol = expression\n"
    "  -f<format>: -fmots19 | -fintelhex | -fcoff | -fihx_coff\n"
    "  -L<dir>  library search path(s)\n"
    "  -l<f>    Search library archive lib<f>.a\n"
    "  -m       Generate map file as <file>.mp\n"
    "  -nb:<#>  Build Number, emitted to top of the map file\n"
    "  -roh:[<area>:]<address range>   Create a hole in the read only memory space\n"
    "  -rwh:[<area>:]<address range>   Create a hole in the read/write memory space\n"
    "  -o<file> Name output file\n"
    "  -O       Enable code compressor optimization\n"
    "  -R       do not link in startup or library file\n"
    "  -s2_s1   Use a mix of S1 and S2 records (CPU12 only)\n"
    "  -s2_cpu  Use CPU addresses for the S2 records\n"
    "  -s2_s12:<size>  Use S12 mapping to convert S1 to S2 records. \n"
    "           <size> is device flash size in K bytes.\n"
    "  -s2_s12x Use S12X mapping to convert S1 to S2 records\n";

std::string read_all(std::FILE* f) {
  std::fflush(f);
  std::rewind(f);
  std::string text;
  char buffer[512];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, f)) > 0;) text.append(buffer, got);
  return text;
}

// One scan of the words after a program name, with its outputs captured.
struct Scan {
  explicit Scan(Words args) {
    args.insert(args.begin(), "zeld12");
    try {
      scan_options(ctx, args);
    } catch (const LinkAbort& abort) {
      status = abort.status;
    }
  }
  ~Scan() {
    std::fclose(err_file);
    std::fclose(out_file);
  }
  std::string err() { return read_all(err_file); }
  std::string out() { return read_all(out_file); }
  Words inputs() const {
    Words names;
    for (const auto& file : ctx.input_files) names.push_back(file->name);
    return names;
  }

  std::FILE* err_file = std::tmpfile();
  std::FILE* out_file = std::tmpfile();
  LinkContext ctx{err_file, out_file};
  int status = kNoStop;
};

TEST(OptionScan, MalformedOptionsPrintTheUsageText) {
  for (const char* word :
       {"-", "-O", "-x", "-a", "-aafax", "-e", "-e0x100", "-nb", "-nx:1", "-r", "-ro:1", "-rwh", "-s", "-s2_s1x",
        "-s2_s12", "-s2_s12xy", "-F0x", "-F12a", "-F08", "-F-1", "-F0x100000000", "-e:", "-e:4294967296",
        "-s2_s12:0x80000000", "-o", "-d", "-L", "-u", "-f"}) {
    Scan scan({"a.o", word});  // value options given last have no value
    EXPECT_EQ(scan.status, kExitUsage) << word;
    EXPECT_EQ(scan.out(), kUsageText) << word;
    EXPECT_EQ(scan.err(), "") << word;
  }
}

TEST(OptionScan, OptionValues) {
  Scan scan({"-F0x12", "-e:0xFFFF", "-s2_s12:0200", "-nb:-7", "-D", "-Dxyz", "-m", "-mapfile", "-maps12", "-aafa",
             "--verbose", "--emit_extended_labels", "-Rx", "-g", "-fcoff"});
  const Options& o = scan.ctx.options;
  EXPECT_EQ(scan.status, kNoStop);
  EXPECT_EQ(o.fill_byte, 0x12);
  EXPECT_EQ(o.max_address, 0xFFFFu);
  EXPECT_EQ(o.s2_mode, S2_S12);
  EXPECT_EQ(o.s12_flash_kbytes, 128);
  EXPECT_EQ(o.build_number, -7);
  EXPECT_EQ(o.trace_level, 2);
  EXPECT_EQ(o.emit_extended_labels, 1);
  EXPECT_FALSE(o.link_startup_and_library);
  EXPECT_EQ(o.debug_level, 1);
  EXPECT_EQ(o.output_formats, unsigned{FORMAT_COFF});
  EXPECT_EQ(scan.out() + scan.err(), "");

  Scan next({"-F", "010", "-f", "ihx_coff", "-s2_cpu", "-o", "-R", "-u", "@x", "-d", "A=1", "-dB=2", "-L", "l/", "-g12x"});
  EXPECT_EQ(next.ctx.options.fill_byte, 8);
  EXPECT_EQ(next.ctx.options.output_formats, unsigned{FORMAT_INTEL_HEX | FORMAT_COFF});
  EXPECT_EQ(next.ctx.options.s2_mode, S2_CPU);
  EXPECT_EQ(next.ctx.options.output_base_name, "-R");  // taken whatever it is
  EXPECT_TRUE(next.ctx.options.link_startup_and_library);
  EXPECT_EQ(next.ctx.options.startup_file, "@x");
  EXPECT_EQ(next.ctx.global_definitions, (Words{"A=1", "B=2"}));
  EXPECT_EQ(next.ctx.library.library_paths.size(), 1u);
  EXPECT_EQ(next.ctx.options.debug_level, 12);
  EXPECT_EQ(Scan({"-gx"}).ctx.options.debug_level, 0);
}

TEST(OptionScan, BuildNumberIsReadLikeADecimalScan) {
  EXPECT_EQ(Scan({"-nb:"}).ctx.options.build_number, 0);  // an empty build variable still links
  EXPECT_EQ(Scan({"-nb:abc"}).ctx.options.build_number, 0);
  EXPECT_EQ(Scan({"-nb: 42x"}).ctx.options.build_number, 42);
  EXPECT_EQ(Scan({"-nb:99999999999"}).ctx.options.build_number, INT_MAX);
  EXPECT_EQ(Scan({"-nb:-99999999999"}).ctx.options.build_number, INT_MIN);
  EXPECT_EQ(Scan({"-nb:1x"}).status, kNoStop);
}

TEST(OptionScan, UnknownFormatAndRetiredMapOptionsAreCountedThenUsage) {
  Scan format({"-f", "elf"});
  EXPECT_EQ(format.status, kExitUsage);
  EXPECT_EQ(format.err(), "!ERROR {linker} unknown output format: elf\n");
  EXPECT_EQ(format.out(), kUsageText);
  EXPECT_EQ(format.ctx.diag.error_count(), 1);
  Scan maps({"-maps12x"});
  EXPECT_EQ(maps.status, kExitUsage);
  EXPECT_EQ(maps.err(), "!ERROR {linker} -maps1 and -maps12x no longer supported. Please see Help file for details.\n");
}

TEST(OptionScan, InputWordsAndTheBaseName) {
  Scan scan({"a.o", "-lm", "", "dir.x/b", "-l"});
  EXPECT_EQ(scan.inputs(), (Words{"a.o", "libm.a", "", "dir.x/b", "lib.a"}));
  for (const auto& [args, base] : std::vector<std::pair<Words, std::string>>{
           {{"-lfoo", "a.o"}, "libfoo"},
           {{"..\\obj\\main", "a.o"}, "."},
           {{"", "main", "a.o"}, "main"},  // an empty word leaves it empty
           {{"a.o", "-oout.s19", "b.o"}, "out.s19"},
           {{"-o", "first", "a.o"}, "first"}})
    EXPECT_EQ(Scan(args).ctx.options.output_base_name, base) << args[0];
}

std::string describe(const std::vector<RangeOption>& options) {
  std::string text;
  for (const RangeOption& option : options) {
    text += option.name;
    for (const AddressRange& range : option.ranges) text += strprintf(" %X..%X", range.low, range.high);
    text += ";";
  }
  return text;
}

TEST(OptionScan, RangeOptionTexts) {
  Scan scan({"-btext:0x4000.0x7FFF", "-roh:0x6000.0x60FF", "-rwh:ram:0x1000.0x10FF", "-roh:_v=0xFF80"});
  EXPECT_EQ(scan.err(), "");
  EXPECT_EQ(describe(scan.ctx.range_options.area_range_options), "text 4000..7FFF;ram 1000..10FF;_v FF80..FFFF;");
  EXPECT_EQ(describe(scan.ctx.range_options.rom_holes), "<fake> 6000..60FF;_v FF80..FFFF;");
  EXPECT_EQ(describe(scan.ctx.range_options.ram_holes), "ram 1000..10FF;");
}

}  // namespace
}  // namespace zeld
