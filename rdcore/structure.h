// A parsed structure (a screen's pattern or a molecule) with what this library
// derives from it once: the per-atom values of the query-mode atom check, the
// prescreen summary (on first use) and the molecular formula. Structures do
// not change after they are built and are shared between Chemistry objects
// and threads.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core_api.h"
#include "graph_match.h"
#include "prescreen.h"

namespace RDKit {
class ROMol;
class RWMol;
}  // namespace RDKit

namespace zolv::rdcore {

/// What a structure stands for.
enum class StructureRole : std::uint8_t {
  kScreen,  ///< a screen's pattern: its atoms give what they demand
  kTarget,  ///< a stored molecule
  kQuery,   ///< a search query
};

/// The values of one atom for the four property codes. For a screen atom:
/// what a match through it needs to be certain of; for a molecule atom: what
/// is certain of it in every molecule that contains this one. The meaning of
/// each code is documented with the codes in core/core_api.h.
struct AtomValues {
  std::int32_t hydrogens = 0;     ///< kPropertyHydrogenCount (65)
  std::int32_t neighbours = 0;    ///< kPropertyBondsAndNeighbourhood (74)
  std::int32_t ringAromatic = 0;  ///< kPropertyRingsAndAromaticity (77)
  std::int32_t charge = 0;        ///< kPropertyChargeAndIsotope (78)
};

// Levels of the four values. The hydrogen level is a multiple of 8, larger
// than the most the other three can exceed their demands by (1 + 2 + 2), so
// that the check, which sees it only in the sum, still compares it alone.
inline constexpr std::int32_t kHydrogenCount = 8;  ///< total H count
inline constexpr std::int32_t kExactBondOrders = 1;
inline constexpr std::int32_t kAromaticAtom = 1;  ///< aromatic if it was
inline constexpr std::int32_t kExactAromaticity = 2;
inline constexpr std::int32_t kCharge = 1;
inline constexpr std::int32_t kChargeAndIsotope = 2;
/// A demand that no atom guarantees (degree, valence, ring counts...).
inline constexpr std::int32_t kUnattainable = 1000;
/// Every value of an atom that guarantees nothing: any match through it
/// fails the check.
inline constexpr std::int32_t kNothingCertain = -1000000;

/// An atom of a structure: owned by it, never released.
class StructureAtom final : public Atom {
 public:
  StructureAtom() = default;
  explicit StructureAtom(const AtomValues& values) : values_(values) {}

  /// The value for codes 65, 74, 77 and 78; 0 for any other code.
  std::int32_t ZOLV_STDCALL Property(std::int32_t code) override;
  const AtomValues& values() const { return values_; }

 private:
  AtomValues values_;
};

/// Runs a computation once, by one thread, like std::call_once, whose every
/// use calls into the thread library; once done, a use is a single load.
class RunOnce {
 public:
  template <typename Computation>
  void operator()(Computation&& computation) const {
    if (done_.load(std::memory_order_acquire)) return;
    std::call_once(flag_, [&] {
      computation();
      done_.store(true, std::memory_order_release);
    });
  }

 private:
  mutable std::once_flag flag_;
  mutable std::atomic<bool> done_{false};
};

class Structure {
 public:
  /// The empty structure: no atoms; it matches nothing and occurs nowhere.
  Structure();
  Structure(StructureRole role, std::unique_ptr<RDKit::ROMol> mol,
            const std::vector<AtomValues>& values, std::string formula);
  Structure(const Structure&) = delete;
  Structure& operator=(const Structure&) = delete;
  ~Structure();

  StructureRole role() const { return role_; }
  /// The RDKit molecule; null for the empty structure.
  const RDKit::ROMol* mol() const { return mol_.get(); }
  std::uint32_t AtomCount() const { return atomCount_; }
  /// The atom numbered as RDKit numbers it; null past the last one.
  Atom* AtomAt(std::uint32_t number) const;
  /// Computed on the first call, by one thread; nothing is ruled out when it
  /// cannot be computed.
  const PrescreenSummary& summary() const;
  /// Hill-order formula text; empty when no atom has a certain element.
  const std::string& formula() const { return formula_; }
  /// The structure laid out as a pattern of the graph search; a screen's is
  /// built with it, another structure's on first use, by one thread.
  const CompiledPattern& compiled() const;
  /// The structure laid out as a target of the graph search; built on first
  /// use, by one thread.
  const TargetGraph& graph() const;
  /// Whether the patterns searched in this structure so far occur in it,
  /// for every Chemistry that shares it.
  KnownOutcomes& outcomes() const { return outcomes_; }

 private:
  StructureRole role_ = StructureRole::kScreen;
  std::unique_ptr<RDKit::ROMol> mol_;
  std::uint32_t atomCount_ = 0;
  std::unique_ptr<StructureAtom[]> atoms_;
  std::string formula_;
  RunOnce summaryOnce_;
  mutable PrescreenSummary summary_;
  RunOnce compiledOnce_;
  mutable CompiledPattern compiled_;
  RunOnce graphOnce_;
  mutable TargetGraph graph_;
  mutable KnownOutcomes outcomes_;
};

/// The one empty structure.
const std::shared_ptr<const Structure>& EmptyStructure();

/// Parses a screen's stored SMARTS text; the empty structure when it holds
/// bytes other than printable ASCII and space, when RDKit cannot read it, or
/// when it has no atoms. Never throws.
std::shared_ptr<const Structure> BuildScreenStructure(std::string_view smarts);

/// Makes a structure of a parsed molecule (sanitized, or a query from SMARTS
/// or a query molfile). Query atoms' own fields are set to what their queries
/// make certain. Throws what RDKit throws.
std::shared_ptr<const Structure> BuildMoleculeStructure(
    std::unique_ptr<RDKit::RWMol> mol, StructureRole role);

}  // namespace zolv::rdcore
