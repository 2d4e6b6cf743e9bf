#include "core_memory.h"

#include <cstdint>
#include <cstdlib>

#include "thread_spares.h"

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

void FreeHeader(void* header) noexcept { std::free(header); }

// Headers of free blocks, a stack per class.
struct BlockTag;
using FreeBlocks = ThreadSpares<BlockTag, void, kKept, &FreeHeader, kClasses>;

}  // namespace

void* NewBlock(std::size_t bytes) noexcept {
  if (bytes == 0) bytes = 1;
  if (!kPooling) return std::malloc(bytes);
  const int sizeClass = ClassOf(bytes);
  Header* header = nullptr;
  if (sizeClass >= 0) {
    header = static_cast<Header*>(
        FreeBlocks::Take(static_cast<std::size_t>(sizeClass)));
    if (header == nullptr) {
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
  if (sizeClass != kUnpooled && FreeBlocks::Keep(header, sizeClass)) return;
  std::free(header);
}

}  // namespace zolv::rdcore
