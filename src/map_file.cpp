// STUB: replaced by the map file and listing writer.
#include "map_file.h"

namespace zeld {

void write_map_file(LinkContext&, const char*) {}

}  // namespace zeld
