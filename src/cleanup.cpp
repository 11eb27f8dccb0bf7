// The link's clean-up list; see cleanup.h.
#include "cleanup.h"

#include "paths.h"
#include "signal_cleanup.h"

namespace zeld {

CleanupList::~CleanupList() {
  for (const Entry& e : entries_) signal_cleanup_remove(e.slot);
}

void CleanupList::push_back(const std::string& name) { entries_.push_back({name, signal_cleanup_add(name), false}); }

void CleanupList::add_unfinished_image(const std::string& name) {
  entries_.push_back({name, signal_cleanup_add(name), true});
}

void CleanupList::finish_image(const std::string& name) {
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (!it->image || it->name != name) continue;
    signal_cleanup_remove(it->slot);
    entries_.erase(it);
    return;
  }
}

void CleanupList::run(bool failed) {
  for (const Entry& e : entries_) {
    if (!e.image || failed) remove_file_quietly(e.name);
    signal_cleanup_remove(e.slot);
  }
  entries_.clear();
}

bool operator==(const CleanupList& list, const std::vector<std::string>& names) {
  std::vector<std::string> always;
  for (const CleanupList::Entry& e : list.entries_)
    if (!e.image) always.push_back(e.name);
  return always == names;
}

}  // namespace zeld
