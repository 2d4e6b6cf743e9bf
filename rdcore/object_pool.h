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
    if (Usable(size)) {
      if (void* block = Blocks().Take()) return block;
    }
    return ::operator new(size);
  }

  static void operator delete(void* block, std::size_t size) noexcept {
    if (block == nullptr) return;
    if (!Usable(size) || !Blocks().Keep(block)) ::operator delete(block);
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

  // An object released while its thread ends, after the pool is gone, goes
  // back to the allocator.
  static bool Usable(std::size_t size) {
    return kPooling && size == sizeof(Object) && !Closed();
  }

  // Trivially destructible, so readable while the thread's other
  // thread-local objects are destroyed.
  static bool& Closed() {
    thread_local bool closed = false;
    return closed;
  }

  class Pool {
   public:
    Pool() = default;
    Pool(const Pool&) = delete;
    Pool& operator=(const Pool&) = delete;
    ~Pool() {
      while (count_ > 0) ::operator delete(blocks_[--count_]);
      Closed() = true;
    }

    void* Take() { return count_ > 0 ? blocks_[--count_] : nullptr; }

    bool Keep(void* block) {
      if (count_ == kKept) return false;
      blocks_[count_++] = block;
      return true;
    }

   private:
    void* blocks_[kKept];
    std::size_t count_ = 0;
  };

  static Pool& Blocks() {
    thread_local Pool pool;
    return pool;
  }
};

}  // namespace zolv::rdcore
