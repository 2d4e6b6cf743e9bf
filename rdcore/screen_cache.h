// Parsed screen patterns, kept by each thread between calls: the driver
// loads the same stored structures afresh on every write.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "structure.h"

namespace zolv::rdcore {

/// Screens kept at most per thread; a thread that has loaded more forgets
/// them all and starts again.
inline constexpr std::size_t kScreenCacheCapacity = 4096;
/// Longer stored structures are parsed on every load and never kept.
inline constexpr std::size_t kLargestCachedScreen = 4096;

/// The structure of a screen's stored bytes (SMARTS text): parsed on the
/// thread's first use and then shared by its loads. Never throws; unreadable
/// text gives the empty structure.
std::shared_ptr<const Structure> LoadScreen(const std::uint8_t* bytes,
                                            std::uint32_t length) noexcept;

}  // namespace zolv::rdcore
