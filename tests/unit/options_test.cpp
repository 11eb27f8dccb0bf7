#include "options.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

#include "context.h"

namespace zeld {
namespace {

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
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, got);
  return text;
}

// A context whose standard output and error are captured.
class OptionScan : public ::testing::Test {
 protected:
  OptionScan() : err_(std::tmpfile()), out_(std::tmpfile()), ctx(err_, out_) {}
  ~OptionScan() override {
    std::fclose(err_);
    std::fclose(out_);
  }

  // Scans the words after a program name; the exit status, or kNoStop.
  int scan(std::initializer_list<std::string> args) {
    std::vector<std::string> words{"zeld12"};
    words.insert(words.end(), args);
    try {
      scan_options(ctx, words);
    } catch (const LinkAbort& abort) {
      return abort.status;
    }
    return kNoStop;
  }

  std::vector<std::string> input_names() const {
    std::vector<std::string> names;
    for (const auto& file : ctx.input_files) {
      EXPECT_EQ(file->kind, INPUT_NAMED);
      names.push_back(file->name);
    }
    return names;
  }

  std::string err() { return read_all(err_); }
  std::string out() { return read_all(out_); }

  std::FILE* err_;
  std::FILE* out_;
  LinkContext ctx;
};

using Names = std::vector<std::string>;

TEST_F(OptionScan, UnlistedOptionPrintsTheWholeUsageText) {
  EXPECT_EQ(scan({"a.o", "-O", "b.o"}), kExitUsage);
  EXPECT_EQ(out(), kUsageText);
  EXPECT_EQ(err(), "");
  EXPECT_EQ(input_names(), Names{"a.o"});  // the scan stops at -O
}

TEST(OptionScanMalformed, EveryMalformedFormPrintsUsage) {
  const char* const malformed[] = {
      "-", "-O", "-x", "-1", "-a", "-aaf", "-aafax", "-e", "-e0x100", "-n", "-nb", "-nb1", "-nx:1",
      "-r", "-roh", "-ro:1", "-rwh", "-rw:1", "-s", "-s2_s", "-s2_s1x", "-s2_cpux", "-s2_s12", "-s2_s12xy",
      "-s2_s13:1",
      // numbers that are not whole numbers of their base
      "-F", "-Fzz", "-F0x", "-F12a", "-F08", "-F-1", "-F 1", "-F0x100000000", "-e:", "-e:x", "-e:0x1g",
      "-e:4294967296", "-nb:", "-nb:-", "-nb:1x", "-nb:2147483648", "-nb:-2147483649", "-s2_s12:",
      "-s2_s12:k", "-s2_s12:0x80000000",
      // options that take the next word, given last
      "-o", "-d", "-L", "-u", "-f"};
  for (const char* word : malformed) {
    std::FILE* err = std::tmpfile();
    std::FILE* out = std::tmpfile();
    LinkContext ctx(err, out);
    int status = kNoStop;
    try {
      scan_options(ctx, {"zeld12", word});
    } catch (const LinkAbort& abort) {
      status = abort.status;
    }
    EXPECT_EQ(status, kExitUsage) << word;
    EXPECT_EQ(read_all(out), kUsageText) << word;
    EXPECT_EQ(read_all(err), "") << word;
    std::fclose(err);
    std::fclose(out);
  }
}

TEST_F(OptionScan, NumbersInBaseZero) {
  EXPECT_EQ(scan({"-F0x12", "-e:0x8000", "-s2_s12:0200"}), kNoStop);
  EXPECT_EQ(ctx.options.fill_byte, 0x12);
  EXPECT_EQ(ctx.options.max_address, 0x8000u);
  EXPECT_EQ(ctx.options.s2_mode, S2_S12);
  EXPECT_EQ(ctx.options.s12_flash_kbytes, 128);
  EXPECT_EQ(scan({"-F", "010", "-e:4294967295", "-s2_s12:0"}), kNoStop);
  EXPECT_EQ(ctx.options.fill_byte, 8);
  EXPECT_EQ(ctx.options.max_address, 0xFFFFFFFFu);
  EXPECT_EQ(ctx.options.s12_flash_kbytes, 0);
  EXPECT_EQ(scan({"-F0", "-e:0XfF"}), kNoStop);
  EXPECT_EQ(ctx.options.fill_byte, 0);
  EXPECT_EQ(ctx.options.max_address, 0xFFu);
}

TEST_F(OptionScan, BuildNumberIsSignedDecimal) {
  EXPECT_EQ(scan({"-nb:042"}), kNoStop);
  EXPECT_EQ(ctx.options.build_number, 42);
  EXPECT_EQ(scan({"-nb:-2147483648"}), kNoStop);
  EXPECT_EQ(ctx.options.build_number, -2147483647 - 1);
  EXPECT_EQ(scan({"-nb:+2147483647"}), kNoStop);
  EXPECT_EQ(ctx.options.build_number, 2147483647);
}

TEST_F(OptionScan, FlagOptions) {
  const Options defaults;
  EXPECT_EQ(scan({"-s2_cpu"}), kNoStop);
  EXPECT_EQ(ctx.options.s2_mode, S2_CPU);
  EXPECT_EQ(scan({"-s2_s12x"}), kNoStop);
  EXPECT_EQ(ctx.options.s2_mode, S2_S12X);
  EXPECT_EQ(scan({"-s2_s1"}), kNoStop);
  EXPECT_EQ(ctx.options.s2_mode, S2_S1);
  EXPECT_EQ(ctx.options.s12_flash_kbytes, defaults.s12_flash_kbytes);

  // -D counts, whatever follows; -R ignores its rest; -m, -aafa and
  // unknown "--" words change nothing.
  EXPECT_EQ(scan({"-D", "-Dxyz", "-m", "-mapfile", "-maps12", "-aafa", "--verbose", "--", "-Rx"}), kNoStop);
  EXPECT_EQ(ctx.options.trace_level, 2);
  EXPECT_FALSE(ctx.options.link_startup_and_library);
  EXPECT_EQ(ctx.options.emit_extended_labels, 0);
  EXPECT_EQ(scan({"--emit_extended_labels"}), kNoStop);
  EXPECT_EQ(ctx.options.emit_extended_labels, 1);
  EXPECT_EQ(out(), "");
  EXPECT_EQ(err(), "");
  EXPECT_TRUE(ctx.input_files.empty());
}

TEST_F(OptionScan, DebugLevelIsTheLeadingDecimalNumber) {
  EXPECT_EQ(scan({"-g"}), kNoStop);
  EXPECT_EQ(ctx.options.debug_level, 1);
  EXPECT_EQ(scan({"-g0"}), kNoStop);
  EXPECT_EQ(ctx.options.debug_level, 0);
  EXPECT_EQ(scan({"-g3"}), kNoStop);
  EXPECT_EQ(ctx.options.debug_level, 3);
  EXPECT_EQ(scan({"-gx"}), kNoStop);
  EXPECT_EQ(ctx.options.debug_level, 0);
  EXPECT_EQ(scan({"-g12ab"}), kNoStop);
  EXPECT_EQ(ctx.options.debug_level, 12);
  EXPECT_EQ(scan({"-g99999999999999999999"}), kNoStop);
  EXPECT_EQ(ctx.options.debug_level, 2147483647);
}

TEST_F(OptionScan, OutputFormats) {
  EXPECT_EQ(scan({"-fcoff"}), kNoStop);
  EXPECT_EQ(ctx.options.output_formats, unsigned{FORMAT_COFF});
  EXPECT_EQ(scan({"-f", "ihx_coff"}), kNoStop);
  EXPECT_EQ(ctx.options.output_formats, unsigned{FORMAT_INTEL_HEX | FORMAT_COFF});
  EXPECT_EQ(scan({"-fintelhex"}), kNoStop);
  EXPECT_EQ(ctx.options.output_formats, unsigned{FORMAT_INTEL_HEX});
  EXPECT_EQ(scan({"-fmots19"}), kNoStop);
  EXPECT_EQ(ctx.options.output_formats, unsigned{FORMAT_SRECORD});
}

TEST_F(OptionScan, UnknownFormatIsCountedThenUsage) {
  EXPECT_EQ(scan({"-f", "elf"}), kExitUsage);
  EXPECT_EQ(err(), "!ERROR {linker} unknown output format: elf\n");
  EXPECT_EQ(out(), kUsageText);
  EXPECT_EQ(ctx.diag.error_count(), 1);
}

TEST_F(OptionScan, RetiredMapOptions) {
  EXPECT_EQ(scan({"-maps12x"}), kExitUsage);
  EXPECT_EQ(err(), "!ERROR {linker} -maps1 and -maps12x no longer supported. Please see Help file for details.\n");
  EXPECT_EQ(out(), kUsageText);
  EXPECT_EQ(scan({"-maps1"}), kExitUsage);
  EXPECT_EQ(ctx.diag.error_count(), 2);
}

TEST_F(OptionScan, ValueOptionsTakeTheNextWordWhateverItIs) {
  EXPECT_EQ(scan({"-o", "-R", "-u", "@x", "-d", "A=1", "-dB=2", "-L", "lib/", "-Linc"}), kNoStop);
  EXPECT_EQ(ctx.options.output_base_name, "-R");
  EXPECT_TRUE(ctx.options.link_startup_and_library);
  EXPECT_EQ(ctx.options.startup_file, "@x");
  EXPECT_EQ(ctx.global_definitions, (Names{"A=1", "B=2"}));
  EXPECT_EQ(ctx.library.library_paths.size(), 2u);
  EXPECT_TRUE(ctx.input_files.empty());
}

TEST_F(OptionScan, InputWordsAndLibraryNamesKeepTheirOrder) {
  EXPECT_EQ(scan({"a.o", "-lm", "", "dir.x/b", "-l", "-lfoo.bar"}), kNoStop);
  EXPECT_EQ(input_names(), (Names{"a.o", "libm.a", "", "dir.x/b", "lib.a", "libfoo.bar.a"}));
  EXPECT_EQ(ctx.options.output_base_name, "a");
}

TEST_F(OptionScan, BaseNameIsTheFirstInputWordBeforeItsLastPoint) {
  EXPECT_EQ(scan({"-lfoo", "a.o"}), kNoStop);
  EXPECT_EQ(ctx.options.output_base_name, "libfoo");
}

TEST_F(OptionScan, BaseNameMayEndInsideADirectory) {
  EXPECT_EQ(scan({"..\\obj\\main", "a.o"}), kNoStop);
  EXPECT_EQ(ctx.options.output_base_name, ".");
}

TEST_F(OptionScan, BaseNameWithoutPointIsTheWord) {
  EXPECT_EQ(scan({"", "main", "a.o"}), kNoStop);  // an empty word leaves it empty
  EXPECT_EQ(ctx.options.output_base_name, "main");
}

TEST_F(OptionScan, OutputNameWinsWhereverItStands) {
  EXPECT_EQ(scan({"a.o", "-oout.s19", "b.o"}), kNoStop);
  EXPECT_EQ(ctx.options.output_base_name, "out.s19");
}

TEST_F(OptionScan, EarlierOutputNameIsKept) {
  EXPECT_EQ(scan({"-o", "first", "a.o"}), kNoStop);
  EXPECT_EQ(ctx.options.output_base_name, "first");
}

// Ranges as "name low..high ..." for one list of range options.
std::string describe(const std::vector<RangeOption>& options) {
  std::string text;
  for (const RangeOption& option : options) {
    text += option.name;
    for (const AddressRange& range : option.ranges) text += strprintf(" %X..%X", range.low, range.high);
    text += ";";
  }
  return text;
}

TEST_F(OptionScan, RangeOptionTexts) {
  EXPECT_EQ(scan({"-btext:0x4000.0x7FFF", "-roh:0x6000.0x60FF", "-rwh:ram:0x1000.0x10FF", "-roh:_v=0xFF80"}),
            kNoStop);
  EXPECT_EQ(err(), "");
  EXPECT_EQ(describe(ctx.range_options.area_range_options), "text 4000..7FFF;ram 1000..10FF;_v FF80..FFFF;");
  EXPECT_EQ(describe(ctx.range_options.rom_holes), "<fake> 6000..60FF;_v FF80..FFFF;");
  EXPECT_EQ(describe(ctx.range_options.ram_holes), "ram 1000..10FF;");
}

}  // namespace
}  // namespace zeld
