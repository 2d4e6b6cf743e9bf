// The core library's allocator for the words of the driver's screen sets
// (ZolvNewMemory and ZolvDeleteMemory). Every write grows the implied and
// dependent sets of every screen of the dictionary and frees them again, a
// few thousand blocks per write with a large dictionary: each thread keeps
// freed small blocks by size for its next ones.
#pragma once

#include <cstddef>

namespace zolv::rdcore {

/// A block of at least bytes bytes (one for zero), aligned for any object;
/// null when the memory is refused. Ends with FreeBlock.
void* NewBlock(std::size_t bytes) noexcept;

/// Frees a block of NewBlock; null is ignored.
void FreeBlock(void* block) noexcept;

}  // namespace zolv::rdcore
