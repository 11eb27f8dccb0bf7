// Motorola S-record output: one S1 or S2 record per relocated record,
// written in input order during pass 1, and the closing S9 record.
//
//   S106400086013FF3       3 bytes at 0x4000
//   S2070E000086013F24     the same at 0x8000 mapped to page 0x0E (S12, 128 K)
//   S9034000BC             start address 0x4000
#pragma once

namespace zeld {

struct LinkContext;
struct CodeBlock;

// Writes the current record to the output file.
void write_s_record(LinkContext& ctx, const CodeBlock& block);
// Writes the S9 record with the address of __start (0 without it).
void write_s_end_record(LinkContext& ctx);

}  // namespace zeld
