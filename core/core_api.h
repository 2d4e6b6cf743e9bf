// The operations the driver calls in the toolkit's core library and on the
// host's objects. Everything the driver knows of chemistry goes through here.
//
// Objects are COM-style: created by the core library's exported functions,
// used through abstract interfaces, and ended by their own Release. Their
// destructors are protected so that nobody deletes them through an interface
// pointer. On Windows the methods and exported functions use __stdcall, the
// convention of a COM-style core library in a 32-bit process.
#pragma once

#include <cstdint>

#include "core/platform.h"

namespace zolv {

struct ScreenSet;  // layout shared with the core library: screens/screen_set.h

/// Core-library status: success when bit 0 is set.
using Status = std::int32_t;

/// Boolean answers of core operations: nonzero means true.
using CoreBool = std::int32_t;

inline bool Succeeded(Status status) { return (status & 1) != 0; }

/// Type code that IsOfType answers with success for a molecule.
inline constexpr std::int32_t kMoleculeType = 112;

/// Matcher option selecting substructure search of the pattern in the target.
inline constexpr std::int32_t kSubstructureSearch = 2;

/// Per-atom property codes compared by the query-mode atom check: a match of
/// a screen (pattern) in a query (target) is rejected when, for some mapped
/// atom, the sum of the four pattern values exceeds the sum of the four target
/// values, or one of the pattern's 74, 77 or 78 exceeds the target's.
///
/// The core library gives each pattern atom what the screen demands of an atom
/// and each molecule atom what it guarantees to every molecule that contains
/// it, so that the comparison never keeps a screen that such a molecule lacks.
/// The meaning of each code is documented where the core library defines it.
inline constexpr std::int32_t kPropertyImplicitHydrogens = 65;
inline constexpr std::int32_t kPropertyHeavyDegree = 74;
inline constexpr std::int32_t kPropertyRingBonds = 77;
inline constexpr std::int32_t kPropertyCharge = 78;

class Chemistry;
class MatchMap;

/// A text owned by the core library.
class StringObject {
 public:
  virtual void ZOLV_STDCALL Release() = 0;
  /// Copies text (NUL-terminated) into the object.
  virtual void ZOLV_STDCALL PutText(const char* text) = 0;
  /// The object's NUL-terminated text; valid until the object next changes.
  virtual const char* ZOLV_STDCALL GetText() = 0;
  virtual std::uint32_t ZOLV_STDCALL TextLength() = 0;

 protected:
  ~StringObject() = default;
};

/// Finds occurrences of a pattern structure in a target structure.
class Matcher {
 public:
  virtual void ZOLV_STDCALL Release() = 0;
  virtual void ZOLV_STDCALL SetOption(std::int32_t option) = 0;
  /// The structure looked for; borrowed, must outlive the search.
  virtual void ZOLV_STDCALL SetPattern(Chemistry* pattern) = 0;
  /// The structure searched in; borrowed. Starts a new search.
  virtual void ZOLV_STDCALL SetTarget(Chemistry* target) = 0;
  /// Without a map: whether any match exists. With a map: puts the next
  /// match into it; false once no match is left.
  virtual CoreBool ZOLV_STDCALL NextMatch(MatchMap* map) = 0;

 protected:
  ~Matcher() = default;
};

/// One match: pattern atom numbers mapped onto target atom numbers.
class MatchMap {
 public:
  virtual void ZOLV_STDCALL Release() = 0;
  virtual CoreBool ZOLV_STDCALL MappedAtom(std::uint32_t patternAtom,
                                           std::uint32_t* targetAtom) = 0;
  /// Adds the mapped pattern atoms to an empty set.
  virtual void ZOLV_STDCALL MappedAtoms(ScreenSet* atoms) = 0;

 protected:
  ~MatchMap() = default;
};

/// A prescreen summary of a structure.
class Index {
 public:
  virtual void ZOLV_STDCALL Release() = 0;
  virtual void ZOLV_STDCALL Build(Chemistry* chemistry) = 0;
  /// False only when this structure cannot occur in the other's.
  virtual CoreBool ZOLV_STDCALL MayOccurIn(Index* other) = 0;

 protected:
  ~Index() = default;
};

/// A byte stream: a core file stream for reading, or the host's output.
class Stream {
 public:
  virtual void ZOLV_STDCALL Release() = 0;
  virtual CoreBool ZOLV_STDCALL ReadShort(std::int16_t* value) = 0;
  virtual CoreBool ZOLV_STDCALL ReadUShort(std::uint16_t* value) = 0;
  virtual CoreBool ZOLV_STDCALL ReadULong(std::uint32_t* value) = 0;
  /// Reads count raw bytes; nonzero when all of them were read.
  virtual CoreBool ZOLV_STDCALL ReadBytes(void* buffer,
                                          std::uint32_t count) = 0;
  virtual std::int32_t ZOLV_STDCALL PutChar(char character) = 0;

 protected:
  ~Stream() = default;
};

/// An atom of a Chemistry; owned by it, never released.
class Atom {
 public:
  virtual std::int32_t ZOLV_STDCALL Property(std::int32_t code) = 0;

 protected:
  ~Atom() = default;
};

/// A molecule, query or screen structure.
class Chemistry {
 public:
  /// Replaces the contents with a screen's stored structure (length first).
  virtual void ZOLV_STDCALL LoadStored(std::uint32_t length,
                                       const std::uint8_t* bytes) = 0;
  virtual void ZOLV_STDCALL Release() = 0;
  /// The atom numbered as in CollectAtoms and MappedAtom, or null.
  virtual Atom* ZOLV_STDCALL AtomAt(std::uint32_t atomNumber) = 0;
  virtual void ZOLV_STDCALL CopyFrom(Chemistry* molecule) = 0;
  /// Adds every atom number to an empty set; flags is 0.
  virtual void ZOLV_STDCALL CollectAtoms(ScreenSet* atoms,
                                         std::int32_t flags) = 0;

 protected:
  ~Chemistry() = default;
};

/// The host's object handed to the driver; borrowed, never released.
class HostObject {
 public:
  virtual Status ZOLV_STDCALL IsOfType(std::int32_t typeCode) = 0;
  /// The host's molecule; borrowed, for CopyFrom.
  virtual Chemistry* ZOLV_STDCALL GetChemistry() = 0;

 protected:
  ~HostObject() = default;
};

}  // namespace zolv

// The core library's exported functions.
extern "C" {
ZOLV_CORE_API zolv::Status ZOLV_STDCALL
ZolvCreateString(zolv::StringObject** out);
ZOLV_CORE_API zolv::Status ZOLV_STDCALL ZolvCreateMatcher(zolv::Matcher** out);
ZOLV_CORE_API zolv::Status ZOLV_STDCALL
ZolvCreateMatchMap(zolv::MatchMap** out);
ZOLV_CORE_API zolv::Status ZOLV_STDCALL
ZolvCreateChemistry(zolv::Chemistry** out);
ZOLV_CORE_API zolv::Status ZOLV_STDCALL ZolvCreateIndex(zolv::Index** out);
/// Opens a stream; success is a non-null *out. mode "READFILE", encoding
/// "BYTEORDERED": 16- and 32-bit fields little-endian.
ZOLV_CORE_API zolv::Status ZOLV_STDCALL
ZolvCreateStream(zolv::Stream** out, const char* mode, const char* path,
                 const char* encoding);
/// Puts the molecular formula text of object into out.
ZOLV_CORE_API zolv::Status ZOLV_STDCALL ZolvFormula(zolv::HostObject* object,
                                                    std::int32_t flags,
                                                    zolv::StringObject* out);
/// Atomic number of an element symbol; 0 for any other text.
ZOLV_CORE_API std::int32_t ZOLV_STDCALL
ZolvAtomicSymbolToNumber(const char* symbol);
/// Storage for ScreenSet words; null when refused.
ZOLV_CORE_API void* ZOLV_STDCALL ZolvNewMemory(std::uint32_t bytes);
ZOLV_CORE_API void ZOLV_STDCALL ZolvDeleteMemory(void* block);
}
