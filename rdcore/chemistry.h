// The Chemistry of this library: a handle on a shared, immutable Structure.
#pragma once

#include <cstdint>
#include <memory>

#include "core_api.h"
#include "graph_match.h"
#include "object_pool.h"
#include "structure.h"

namespace zolv::rdcore {

class CoreChemistry final : public Chemistry, public Pooled<CoreChemistry> {
 public:
  /// Holds the empty structure until loaded or copied.
  CoreChemistry() = default;
  explicit CoreChemistry(std::shared_ptr<const Structure> structure);
  CoreChemistry(const CoreChemistry&) = delete;
  CoreChemistry& operator=(const CoreChemistry&) = delete;

  /// The chemistry as this library's, or null for another library's.
  static CoreChemistry* From(Chemistry* chemistry);

  const std::shared_ptr<const Structure>& structure() const {
    return structure_ != nullptr ? structure_ : EmptyStructure();
  }

  /// The answers of this chemistry's atoms and bonds to the queries searched
  /// in it so far: this chemistry's own, like the write it belongs to, and
  /// forgotten when it gets another structure.
  const std::shared_ptr<TargetAnswers>& Answers();

  /// Parses the bytes as SMARTS (shared through the screen cache); text that
  /// RDKit cannot read gives the empty structure, which matches nothing.
  void ZOLV_STDCALL LoadStored(std::uint32_t length,
                               const std::uint8_t* bytes) override;
  void ZOLV_STDCALL Release() override;
  Atom* ZOLV_STDCALL AtomAt(std::uint32_t atomNumber) override;
  /// Shares the molecule's structure; another library's molecule gives the
  /// empty structure.
  void ZOLV_STDCALL CopyFrom(Chemistry* molecule) override;
  /// Adds 0 to the atom count minus 1; flags are not used.
  void ZOLV_STDCALL CollectAtoms(ScreenSet* atoms, std::int32_t flags) override;

 private:
  ~CoreChemistry() = default;

  // Null for the empty structure, which is shared by every thread: copying
  // it would make each new chemistry write to one counter.
  std::shared_ptr<const Structure> structure_;
  std::shared_ptr<TargetAnswers> answers_;
};

}  // namespace zolv::rdcore
