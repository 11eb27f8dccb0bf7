// STUB: replaced by the option scan.
#include "options.h"
#include "context.h"
namespace zeld {
void scan_options(LinkContext&, const std::vector<std::string>&) {}
void usage(LinkContext&) { throw LinkAbort{kExitUsage}; }
}
