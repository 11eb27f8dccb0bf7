// STUB: replaced by the option word expansion.
#include "option_words.h"
#include "context.h"
namespace zeld {
void split_words(LinkContext&, std::string_view, std::vector<std::string>&) {}
void insert_env_words(LinkContext&, std::string_view, std::vector<std::string>&) {}
void expand_option_files(LinkContext&, std::vector<std::string>&) {}
}
