// How the fuzz targets cut one input into its parts, shared by the targets
// and the seed generator so that seeds and harnesses agree.
//
// Dictionary target:  faults(2) flags(1) dictLength(2) dict  script...
// Write target:       faults(2) flags(1) optionsLength(1) options
//                     formulaLength(1) formula dictLength(2) dict script...
// Lengths are little-endian and clamped to what the input still holds, so
// that every byte string is a valid input.
//
// faults: byte 0 refuses that ZolvNewMemory call (0: none); byte 1, low three
// bits 1..6, fails a creation of object kind (bits - 1), the (byte >> 3) + 1-th
// of that kind; 0 or 7 fails none.
//
// script, per dictionary record in file order, then for the molecule:
//   record:   flags byte: bits 0-1 matches (0..3), bit 2 the prescreen rules
//             the screen out, bits 3-5 atoms of the screen's structure;
//             per match: a byte whose low two bits count its atom pairs, then
//             one byte per pair (pattern atom low nibble, target atom high
//             nibble); per atom: four property bytes (signed; 0x7F and 0x80
//             stand for the largest and the smallest 32-bit value).
//   molecule: atom count byte (low four bits), then four bytes per atom.
// Bytes past the end of the input read as 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zolv::fuzz {

/// Reads an input front to back; past its end every read gives zeros.
class ByteReader {
 public:
  ByteReader(const std::uint8_t* data, std::size_t size)
      : data_(data), size_(size) {}

  std::uint8_t Byte() { return position_ < size_ ? data_[position_++] : 0; }

  std::uint16_t U16() {
    const std::uint16_t low = Byte();
    return static_cast<std::uint16_t>(low | (Byte() << 8));
  }

  /// At most n bytes, fewer when the input ends first.
  std::string Bytes(std::size_t n) {
    const std::size_t taken = n < size_ - position_ ? n : size_ - position_;
    std::string bytes(reinterpret_cast<const char*>(data_ + position_), taken);
    position_ += taken;
    return bytes;
  }

  bool AtEnd() const { return position_ >= size_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
};

// Bits of the flags byte.
inline constexpr std::uint8_t kFlagQuery = 0x01;        // dictionary target
inline constexpr std::uint8_t kFlagNoFile = 0x02;       // both targets
inline constexpr std::uint8_t kFlagNoOptions = 0x04;    // write target
inline constexpr std::uint8_t kFlagNoFormula = 0x08;    // write target
inline constexpr std::uint8_t kFlagNotMolecule = 0x10;  // write target

/// Appends value little-endian, as the readers above take it.
inline void PutU16(std::string* bytes, std::uint16_t value) {
  bytes->push_back(static_cast<char>(value & 0xFF));
  bytes->push_back(static_cast<char>(value >> 8));
}

}  // namespace zolv::fuzz
