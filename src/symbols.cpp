// STUB: replaced by the symbol table implementation (keep the SymbolTable methods).
#include "symbols.h"
#include "context.h"
namespace zeld {
Symbol* SymbolTable::find(std::string_view name) const { auto it = index_.find(name); return it == index_.end() ? nullptr : it->second; }
Symbol* SymbolTable::insert(std::string_view name) { Symbol& s = storage_.emplace_back(); s.name = name; int b = symbol_hash(name); s.next_in_bucket = buckets_[b]; buckets_[b] = &s; index_.emplace(s.name, &s); return &s; }
int symbol_hash(std::string_view name) { int sum = 0; for (std::size_t i = 0; i < name.size() && i < 128; ++i) sum += static_cast<signed char>(name[i]); return sum & 0x1FF; }
Symbol* lookup_symbol(LinkContext& ctx, std::string_view name, bool create) { Symbol* s = ctx.symbols.find(name); if (!s && create) s = ctx.symbols.insert(name); return s; }
Symbol* lookup_linker_symbol(LinkContext& ctx, std::string_view name) { Symbol* s = ctx.symbols.find(name); return s ? s : ctx.symbols.insert(name); }
u32 symbol_address(LinkContext&, const Symbol& sym) { u32 v = sym.value; if (sym.area_part && !(sym.flags & SYM_ABSOLUTE)) v += sym.area_part->address; return v; }
bool find_symbol_address(LinkContext& ctx, std::string_view name, u32& address) { Symbol* s = lookup_symbol(ctx, name, false); if (!s) return false; address = symbol_address(ctx, *s); return true; }
Symbol* define_symbol(LinkContext&, Header*, AreaPart*) { return nullptr; }
void report_undefined_symbols(LinkContext&, std::FILE*) {}
}
