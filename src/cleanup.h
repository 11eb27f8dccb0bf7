// What the link deletes when it ends. Two kinds of file:
//   - files deleted whichever way the link ends: the option files named
//     with @-;
//   - image files (.s19, .hex, .cof) and the absolute listing, deleted when
//     the link fails before they are finished, so that no cut image is
//     left where a programmer could flash it. A finished one is kept.
// Every name is also registered for deletion on an interrupting signal
// (signal_cleanup.h).
#pragma once

#include <string>
#include <vector>

namespace zeld {

class CleanupList {
 public:
  CleanupList() = default;
  CleanupList(const CleanupList&) = delete;
  CleanupList& operator=(const CleanupList&) = delete;
  ~CleanupList();

  // Deleted whichever way the link ends.
  void push_back(const std::string& name);
  // Deleted if the link fails before finish_image(name).
  void add_unfinished_image(const std::string& name);
  // The image is complete: it stays, whatever the status.
  void finish_image(const std::string& name);

  // Deletes the files, in the order registered; unfinished images only
  // when `failed`. Failures to delete are ignored.
  void run(bool failed);

  // The files deleted whichever way the link ends, in the order registered.
  friend bool operator==(const CleanupList& list, const std::vector<std::string>& names);

 private:
  struct Entry {
    std::string name;
    int slot;    // in the signal-time registry
    bool image;  // deleted only when the link fails
  };
  std::vector<Entry> entries_;
};

}  // namespace zeld
