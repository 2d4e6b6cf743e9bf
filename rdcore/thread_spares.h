// A per-thread stack of spare items: storage that a thread keeps for its own
// next use instead of handing it to the allocator and asking again. What the
// core's block pools, its pooled objects and the matcher's answer storage
// share.
#pragma once

#include <cstddef>

namespace zolv::rdcore {

/// Stacks of at most kKept spare items per thread, kStacks of them, given to
/// Release when the thread ends. Tag tells the users apart: each Tag has
/// stacks of its own.
template <typename Tag, typename Item, std::size_t kKept,
          void (*Release)(Item*) noexcept, std::size_t kStacks = 1>
class ThreadSpares {
 public:
  /// The item kept last on stack, or null when it holds none.
  static Item* Take(std::size_t stack = 0) noexcept {
    Stacks& own = Own();
    return own.count[stack] > 0 && !own.closed
               ? own.items[stack][--own.count[stack]]
               : nullptr;
  }

  /// Keeps item on stack for the thread's next Take. False when the stack
  /// is full or the thread is ending (its stacks already given back): the
  /// caller then releases the item itself.
  static bool Keep(Item* item, std::size_t stack = 0) noexcept {
    Stacks& own = Own();
    if (own.closed || own.count[stack] == kKept) return false;
    if (!own.emptiedAtExit) {
      thread_local Emptier emptier;
      own.emptiedAtExit = true;
    }
    own.items[stack][own.count[stack]++] = item;
    return true;
  }

 private:
  // Trivially destructible, so that it is still readable while the thread's
  // other thread-local objects are destroyed (an item released then goes
  // back to the allocator), and found with one lookup.
  struct Stacks {
    Item* items[kStacks][kKept];
    std::size_t count[kStacks];
    bool emptiedAtExit;  // an Emptier is registered
    bool closed;         // the Emptier has run
  };

  static Stacks& Own() noexcept {
    thread_local Stacks stacks;
    return stacks;
  }

  // Gives the items back when the thread ends.
  struct Emptier {
    Emptier() = default;
    Emptier(const Emptier&) = delete;
    Emptier& operator=(const Emptier&) = delete;
    ~Emptier() {
      Stacks& own = Own();
      for (std::size_t s = 0; s < kStacks; ++s) {
        while (own.count[s] > 0) Release(own.items[s][--own.count[s]]);
      }
      own.closed = true;
    }
  };
};

}  // namespace zolv::rdcore
