// The C++ API of the core library for the host program: it turns molecule
// texts into the host objects that the driver writes. RDKit stays inside the
// library; nothing of it appears here.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core_api.h"

#if defined(_WIN32)
#if defined(ZOLV_BUILDING_CORE)
#define ZOLV_RDCORE_API __declspec(dllexport)
#else
#define ZOLV_RDCORE_API __declspec(dllimport)
#endif
#else
#define ZOLV_RDCORE_API __attribute__((visibility("default")))
#endif

namespace zolv::rdcore {

/// How a molecule text is written.
enum class Notation : std::uint8_t {
  kSmiles,
  kSmarts,    ///< only for queries
  kMolBlock,  ///< a molfile, or one SDF record (data items are ignored)
};

/// What the host writes a molecule as. The same structure means different
/// things: a stored molecule is exactly what it shows, hydrogens and charges
/// included; a query stands for every molecule that contains it, so only
/// what all of those have is certain (its formula holds only atoms of a
/// certain element other than hydrogen).
enum class MoleculeRole : std::uint8_t { kTarget, kQuery };

/// A molecule for the driver: IsOfType (kMoleculeType) succeeds and
/// GetChemistry gives a Chemistry of this library. Owned by the host; the
/// driver borrows it.
class ZOLV_RDCORE_API HostMolecule final : public HostObject {
 public:
  HostMolecule(const HostMolecule&) = delete;
  HostMolecule& operator=(const HostMolecule&) = delete;
  ~HostMolecule();

  /// Success (1) for kMoleculeType, 0 for any other code.
  Status ZOLV_STDCALL IsOfType(std::int32_t typeCode) override;
  /// The molecule's Chemistry, owned by this object.
  Chemistry* ZOLV_STDCALL GetChemistry() override;

  MoleculeRole role() const { return role_; }
  /// The molfile's title line; empty for SMILES and SMARTS.
  const std::string& name() const { return name_; }

 private:
  friend struct HostMoleculeMaker;
  HostMolecule(Chemistry* chemistry, MoleculeRole role, std::string name);

  Chemistry* chemistry_;
  MoleculeRole role_;
  std::string name_;
};

/// A parsed molecule, or why there is none.
struct ParsedMolecule {
  std::unique_ptr<HostMolecule> molecule;  ///< null when parsing failed
  std::string error;                       ///< empty on success
  /// The error without the text it repeats ("cannot read SMILES \"C1CC\": "):
  /// RDKit's message, or what was wrong; for a host that shows the text its
  /// own way.
  std::string reason;
};

/// Parses one molecule. SMILES and SMARTS may carry surrounding white space;
/// a SMARTS target is refused. RDKit's own messages are silenced: a failure is
/// reported only through the result's error. Never throws.
ZOLV_RDCORE_API ParsedMolecule ParseMolecule(std::string_view text,
                                             Notation notation,
                                             MoleculeRole role);

/// Work the core library has done since the last reset, added up over all
/// threads; for benchmarks. Counting never changes what the core answers.
struct CoreStatistics {
  std::uint64_t targetsSet = 0;            ///< Matcher SetTarget calls
  std::uint64_t nextMatchCalls = 0;        ///< Matcher NextMatch calls
  std::uint64_t substructureSearches = 0;  ///< RDKit searches they ran
  std::uint64_t graphSearches = 0;         ///< searches of the graph matcher
  std::uint64_t prescreenCalls = 0;        ///< Index MayOccurIn calls
  std::uint64_t prescreenRejections = 0;   ///< of those, "cannot occur"
};

ZOLV_RDCORE_API CoreStatistics GetCoreStatistics();
/// Zeroes the counters; a thread counting at that moment may keep the count
/// it was adding to.
ZOLV_RDCORE_API void ResetCoreStatistics();

}  // namespace zolv::rdcore
