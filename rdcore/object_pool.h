// Storage for the core objects that the driver makes and releases by the
// hundred in every write (a chemistry, an index and a matcher per screen it
// examines): the general allocator costs more than those objects' own work.
// Each thread keeps the blocks of released objects of each class for its
// next ones.
#pragma once

#include <cstddef>
#include <new>

namespace zolv::rdcore {

/// Base of a final class Object whose instances are made with plain new and
/// delete; gives it a per-thread pool of blocks.
template <typename Object>
class Pooled {
 public:
  static void* operator new(std::size_t size) {
    if (kPooling && size == sizeof(Object)) {
      Pool& pool = Blocks();
      if (pool.count > 0 && !pool.closed) return pool.blocks[--pool.count];
    }
    return ::operator new(size);
  }

  static void operator delete(void* block, std::size_t size) noexcept {
    if (block == nullptr) return;
    if (kPooling && size == sizeof(Object)) {
      Pool& pool = Blocks();
      // An object released while its thread ends, after the pool was
      // emptied, goes back to the allocator.
      if (pool.count < kKept && !pool.closed) {
        if (!pool.emptiedAtExit) EmptyAtExit();
        pool.blocks[pool.count++] = block;
        return;
      }
    }
    ::operator delete(block);
  }

 private:
  // Blocks kept at most per class and thread: more than one write needs.
  static constexpr std::size_t kKept = 1024;
#if defined(__SANITIZE_ADDRESS__)
  // Reused blocks would hide a use after release from the sanitizer.
  static constexpr bool kPooling = false;
#else
  static constexpr bool kPooling = true;
#endif

  // Trivially destructible, so that it is still readable while the thread's
  // other thread-local objects are destroyed, and found with one lookup.
  struct Pool {
    void* blocks[kKept];
    std::size_t count;
    bool emptiedAtExit;  // an Emptier is registered
    bool closed;         // the Emptier has run
  };

  static Pool& Blocks() {
    thread_local Pool pool;
    return pool;
  }

  // Gives the blocks back when the thread ends.
  struct Emptier {
    Emptier() = default;
    Emptier(const Emptier&) = delete;
    Emptier& operator=(const Emptier&) = delete;
    ~Emptier() {
      Pool& pool = Blocks();
      while (pool.count > 0) ::operator delete(pool.blocks[--pool.count]);
      pool.closed = true;
    }
  };

  static void EmptyAtExit() {
    thread_local Emptier emptier;
    Blocks().emptiedAtExit = true;
  }
};

}  // namespace zolv::rdcore
