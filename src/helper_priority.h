// The link's helper threads that make things the link's thread only needs
// later (the module listings read ahead, the map and debug texts made
// beside pass 1) run below its priority: where the two cores are short, the
// link's thread, whose work everything else waits for, goes first, and the
// helpers catch up while it works alone (the listing, the copies, the
// clean-up). Threads whose work the link's thread waits for at once (the
// reading ahead of the objects) keep its priority.
#pragma once

namespace zeld {

// Lowers the calling thread's priority a few steps, where the host lets a
// thread change its own; elsewhere it does nothing. Never fails the link.
void run_below_link_priority();

}  // namespace zeld
