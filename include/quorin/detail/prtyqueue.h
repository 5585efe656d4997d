// The pool of the priority blocks' classes (TQueHead): registered by the
// family with the kernel, which makes it with every run's memory.
#pragma once

namespace quorin {

class TMemoManager;

extern TMemoManager* QueHeadsManager;

} // namespace quorin
