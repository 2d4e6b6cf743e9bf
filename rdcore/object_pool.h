// Storage for the core objects that the driver makes and releases by the
// hundred in every write (a chemistry, an index and a matcher per screen it
// examines): the general allocator costs more than those objects' own work.
// Each thread keeps the blocks of released objects of each class for its
// next ones.
#pragma once

#include <cstddef>
#include <new>

#include "thread_spares.h"

namespace zolv::rdcore {

/// Base of a final class Object whose instances are made with plain new and
/// delete; gives it a per-thread pool of blocks.
template <typename Object>
class Pooled {
 public:
  static void* operator new(std::size_t size) {
    if (kPooling && size == sizeof(Object)) {
      if (void* block = Blocks::Take()) return block;
    }
    return ::operator new(size);
  }

  static void operator delete(void* block, std::size_t size) noexcept {
    if (block == nullptr) return;
    if (kPooling && size == sizeof(Object) && Blocks::Keep(block)) return;
    ::operator delete(block);
  }

 private:
#if defined(__SANITIZE_ADDRESS__)
  // Reused blocks would hide a use after release from the sanitizer.
  static constexpr bool kPooling = false;
#else
  static constexpr bool kPooling = true;
#endif

  static void ReleaseBlock(void* block) noexcept { ::operator delete(block); }

  // Blocks kept at most per class and thread: more than one write needs.
  using Blocks = ThreadSpares<Object, void, 1024, &ReleaseBlock>;
};

}  // namespace zolv::rdcore
