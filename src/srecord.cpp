// STUB: replaced by the S-record writer.
#include "srecord.h"
#include "context.h"
namespace zeld {
void write_s_record(LinkContext&) {}
void write_s_end_record(LinkContext&) {}
}
