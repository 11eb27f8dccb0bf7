// The link's clean-up list; see cleanup.h.
#include "cleanup.h"

#include "paths.h"
#include "signal_cleanup.h"

namespace zeld {

CleanupList::~CleanupList() {
  for (int slot : always_slots_) signal_cleanup_remove(slot);
  for (const Image& image : images_) signal_cleanup_remove(image.slot);
}

void CleanupList::push_back(const std::string& name) {
  always_.push_back(name);
  always_slots_.push_back(signal_cleanup_add(name));
}

void CleanupList::add_unfinished_image(const std::string& name) {
  images_.push_back({name, signal_cleanup_add(name)});
}

void CleanupList::finish_image(const std::string& name) {
  for (auto it = images_.begin(); it != images_.end(); ++it) {
    if (it->name != name) continue;
    signal_cleanup_remove(it->slot);
    images_.erase(it);
    return;
  }
}

void CleanupList::run(bool failed) {
  for (std::size_t i = 0; i < always_.size(); ++i) {
    remove_file_quietly(always_[i]);
    signal_cleanup_remove(always_slots_[i]);
  }
  always_.clear();
  always_slots_.clear();
  for (const Image& image : images_) {
    if (failed) remove_file_quietly(image.name);
    signal_cleanup_remove(image.slot);
  }
  images_.clear();
}

}  // namespace zeld
