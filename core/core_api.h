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

#include "platform.h"

namespace zolv {

struct ScreenSet;  // layout shared with the core library: screen_set.h

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
/// The core library gives each pattern atom what a match through it needs to
/// be certain of, and each molecule atom what is certain of it in every
/// molecule that contains this one (the molecule read as a search query), so
/// that the comparison never keeps a screen that such a molecule lacks. What a
/// screen atom reads that cannot change in a larger molecule (its element;
/// "in a ring" and "is aromatic" asked positively; bond orders of bonds that
/// have one certain order) needs nothing.
///
/// A molecule atom that guarantees nothing gives -1000000 for all four codes,
/// which fails every match through it: an atom without one certain element
/// (atom lists, wildcards, dummies) or with a bond that may be anything but
/// single or aromatic (any-bonds, double-or-aromatic and the like).
///
/// 65, hydrogens. Screen atom: 8 when it reads its total hydrogen count.
/// Molecule atom: 8 when its query fixes that count (a SMARTS H count; a SMILES
/// or molfile atom never does), else 0. Steps of 8 keep it apart from the
/// others, which together exceed their demands by at most 5.
/// 74, heavy-atom bonds and neighbourhood. Screen atom: 1 when one of its bonds
/// reads the exact order (an explicit "-", "=", "#", ":"); 1000 when it or a
/// bond reads what a larger molecule may change (degree, valence, implicit
/// hydrogens, hybridization, neighbours, recursive SMARTS, any unknown query).
/// Molecule atom: 1 when each of its bonds has one certain order, 0 when one
/// may be single or aromatic (a SMARTS bond written without a symbol).
/// 77, rings and aromaticity. Screen atom: 1 when it reads aromaticity only as
/// "is aromatic"; 2 when it reads "is aliphatic" (an upper-case SMARTS atom)
/// or "not aromatic"; 1000 for ring counts, ring sizes or "not in a ring".
/// Molecule atom: 2 when its aromaticity is certain (aromatic on an aromatic
/// bond, or fixed by its query); 1 when it is not aromatic here, so that "is
/// aromatic" did not hold for it; else 0.
/// 78, charge and isotope. Screen atom: 1 when it reads the charge, 2 when it
/// reads the isotope or mass. Molecule atom: 1 when its charge is certain (not
/// 0, or fixed by its query), 2 when its isotope is certain too, else 0.
inline constexpr std::int32_t kPropertyHydrogenCount = 65;
inline constexpr std::int32_t kPropertyBondsAndNeighbourhood = 74;
inline constexpr std::int32_t kPropertyRingsAndAromaticity = 77;
inline constexpr std::int32_t kPropertyChargeAndIsotope = 78;

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
ZOLV_CORE_API zolv::Status ZOLV_STDCALL ZolvCreateStream(zolv::Stream** out,
                                                         const char* mode,
                                                         const char* path,
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
