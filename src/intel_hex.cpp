// STUB: replaced by the Intel hex writer.
#include "intel_hex.h"
#include "context.h"
namespace zeld {
void write_hex_record(LinkContext&) {}
void write_hex_end_record(LinkContext&) {}
}
