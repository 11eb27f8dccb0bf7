// Intel hex output: one type-00 data record per relocated record, with the
// low 16 bits of its address, and the end record ":00000001FF".
//
//   :0340000086013FF7      3 bytes at 0x4000
#pragma once

namespace zeld {

struct LinkContext;
struct CodeBlock;

// Writes the current record to the output file.
void write_hex_record(LinkContext& ctx, const CodeBlock& block);
// Writes the end-of-file record.
void write_hex_end_record(LinkContext& ctx);

}  // namespace zeld
