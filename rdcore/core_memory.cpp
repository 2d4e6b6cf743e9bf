#include "core_memory.h"

#include <cstdint>
#include <cstdlib>

namespace zolv::rdcore {
namespace {

#if defined(__SANITIZE_ADDRESS__)
// Reused blocks would hide a use after free from the sanitizer.
constexpr bool kPooling = false;
#else
constexpr bool kPooling = true;
#endif

// Blocks of up to 32 << (kClasses - 1) bytes are kept, by powers of two.
constexpr int kClasses = 5;
constexpr std::size_t kSmallest = 32;
constexpr std::size_t kKept = 256;  // per class and thread
constexpr std::uint32_t kUnpooled = 0xFFFFFFFFu;

// Each block is preceded by its class, padded to keep the block aligned
// for any object.
struct alignas(alignof(std::max_align_t)) Header {
  std::uint32_t sizeClass;
};
static_assert(sizeof(Header) == alignof(std::max_align_t),
              "the header keeps the block's alignment");

int ClassOf(std::size_t bytes) {
  std::size_t size = kSmallest;
  for (int c = 0; c < kClasses; ++c, size *= 2) {
    if (bytes <= size) return c;
  }
  return -1;
}

// Trivially destructible, so that it is still readable while the thread's
// other thread-local objects are destroyed.
struct Pools {
  void* blocks[kClasses][kKept];  // headers of free blocks
  std::size_t count[kClasses];
  bool emptiedAtExit;  // an emptier is registered
  bool closed;         // the emptier has run
};

Pools& ThreadPools() {
  thread_local Pools pools;
  return pools;
}

struct Emptier {
  Emptier() = default;
  Emptier(const Emptier&) = delete;
  Emptier& operator=(const Emptier&) = delete;
  ~Emptier() {
    Pools& pools = ThreadPools();
    for (int c = 0; c < kClasses; ++c) {
      while (pools.count[c] > 0) std::free(pools.blocks[c][--pools.count[c]]);
    }
    pools.closed = true;
  }
};

}  // namespace

void* NewBlock(std::size_t bytes) noexcept {
  if (bytes == 0) bytes = 1;
  if (!kPooling) return std::malloc(bytes);
  const int sizeClass = ClassOf(bytes);
  Header* header = nullptr;
  if (sizeClass >= 0) {
    Pools& pools = ThreadPools();
    if (!pools.closed && pools.count[sizeClass] > 0) {
      header = static_cast<Header*>(
          pools.blocks[sizeClass][--pools.count[sizeClass]]);
    } else {
      header = static_cast<Header*>(
          std::malloc(sizeof(Header) + (kSmallest << sizeClass)));
    }
  } else if (bytes <= SIZE_MAX - sizeof(Header)) {
    header = static_cast<Header*>(std::malloc(sizeof(Header) + bytes));
  }
  if (header == nullptr) return nullptr;
  header->sizeClass =
      sizeClass >= 0 ? static_cast<std::uint32_t>(sizeClass) : kUnpooled;
  return header + 1;
}

void FreeBlock(void* block) noexcept {
  if (block == nullptr) return;
  if (!kPooling) {
    std::free(block);
    return;
  }
  Header* header = static_cast<Header*>(block) - 1;
  const std::uint32_t sizeClass = header->sizeClass;
  if (sizeClass != kUnpooled) {
    Pools& pools = ThreadPools();
    if (!pools.closed && pools.count[sizeClass] < kKept) {
      if (!pools.emptiedAtExit) {
        thread_local Emptier emptier;
        pools.emptiedAtExit = true;
      }
      pools.blocks[sizeClass][pools.count[sizeClass]++] = header;
      return;
    }
  }
  std::free(header);
}

}  // namespace zolv::rdcore
