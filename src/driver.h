// The link as one ordered list of steps: words, options, input files,
// output files, pass 0, the steps between the passes, pass 1, the reports
// and closing records, the device usage line and the exit status.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace zeld {

struct LinkContext;

// Runs one link with the given words (words[0] the program name) and the
// environment text of ZOL12_LINKER_OPTS (null when unset). Returns the exit
// status; a stop deep inside arrives here as LinkAbort.
int run_link(LinkContext& ctx, std::vector<std::string> words, const char* env_options);

// Creates the context, runs the link, runs the clean-up on every way out
// and returns the exit status (0, 1 or -1).
int link_main(int argc, char** argv, std::FILE* out, std::FILE* err);

// Rounds positive fractions up to the next whole number.
long ceil_to_long(double x);

}  // namespace zeld
