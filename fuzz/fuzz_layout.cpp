// Fuzz target "layout": the options that place and fill the image, over a
// fixed set of objects. The whole input is words, one a line, for
//   zeld12 -R <words> main.o util.o xg.o bss.o
// so the fuzzer works on -b, -roh and -rwh ranges (named or not), -e:, -F,
// -s2_s12: and the other S-record modes, -nb:, -f and -d expressions, while
// the objects stay valid: every relocation mode, both byte orders, an XGATE
// module, paged, linear and direct-page areas, and a module listing.
#include <cstddef>
#include <cstdint>

#include "harness.h"

namespace {

constexpr const char* kMain = R"(XH
H 4 areas 5 global symbols
M main
A text size 1E flags 0
S __start Def0000
S _loop Def0002
A dpage size 0A flags 20
S _counter Def0005
A ppage size 4 flags 80
S _far Def0000
A lin size 4 flags 2
S _table Def0002
T 00 00 20 00 00 26 00 00 86 00 00
R 00 00 00 00 07 03 00 01 07 06 00 01 03 09 00 02
T 00 06 16 00 00 CE 00 10 18 00 00
R 00 00 00 00 02 03 00 00 00 06 00 01 06 09 00 01
T 00 0F 4A 00 00 00 00 00 00 00 00 00 00
R 00 00 00 00 82 03 00 03 83 05 00 03 0A 07 00 03 0B 09 00 03 00 0B 00 02
T 00 18 CC 00 00 00 00
R 00 00 00 00 8A 03 00 04 0B 05 00 04
T 00 00 00 01 00 00
P 00 00 00 00
T 00 1C 96 00 00
R 00 00 00 00 53 03 00 02
T 00 00 06 00 00 3D
R 00 00 00 02 00 03 00 00
T 00 00 01 02 03 04
R 00 00 00 03
)";

constexpr const char* kMainListing = R"(                        .area text
0000                    __start::
0000  200000            bra _loop
0002                    _loop::
0003  260000            bne _loop
0006  1600              jsr __start
                        .area dpage (paged)
0005                    _counter::
0005  00                .byte 0
                        .area lin
0002                    _table::
0002  0102              .word 0x0102
)";

constexpr const char* kUtil = R"(XL
H 1 areas 1 global symbols
M util
A text size 5 flags 0
S _loop Ref0000
T 00 00 86 01 00 CE 02 00
R 00 00 00 00 03 03 00 00 00 06 00 00
)";

constexpr const char* kXgate = R"(XH xgate
H 2 areas 2 global symbols
M xg
A xtext size 5 flags 0
S _xstart Def0000
S _counter Ref0000
A zpage size 0 flags 0
T 00 00 00 01 00 00
P 00 00 00 00
T 00 00 20 00 3C 00 00 00
R 00 00 00 00 06 02 00 00 0A 04 00 00 43 06 00 01
)";

constexpr const char* kBss = R"(XH
H 3 areas 1 global symbols
M bss
A text size 2000 flags 0
A bss size 100 flags 20
S _buffer Def0010
A vectors size 2 flags 0
T 00 00 11
R 00 00 00 00
T 00 00 C0 00
R 00 00 00 02 00 02 00 00
)";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  zeld_fuzz::LinkCase link;
  link.words = {"zeld12", "-R"};
  std::string_view text(reinterpret_cast<const char*>(data), size);
  for (std::string& w : zeld_fuzz::split_words(text)) link.words.push_back(std::move(w));
  link.words.insert(link.words.end(), {"main.o", "util.o", "xg.o", "bss.o"});
  link.files = {{"main.o", kMain}, {"main.lis", kMainListing}, {"util.o", kUtil}, {"xg.o", kXgate}, {"bss.o", kBss}};
  zeld_fuzz::run_checked_link(link);
  return 0;
}
