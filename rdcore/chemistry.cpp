#include "chemistry.h"

#include <utility>

#include "object_cast.h"
#include "screen_cache.h"
#include "screen_set.h"

namespace zolv::rdcore {

CoreChemistry::CoreChemistry(std::shared_ptr<const Structure> structure)
    : structure_(std::move(structure)) {}

CoreChemistry* CoreChemistry::From(Chemistry* chemistry) {
  return AsOurs<CoreChemistry>(chemistry);
}

void CoreChemistry::LoadStored(std::uint32_t length,
                               const std::uint8_t* bytes) {
  structure_ = LoadScreen(bytes, length);
  if (structure_ == EmptyStructure()) structure_.reset();
  answers_.reset();
}

const std::shared_ptr<TargetAnswers>& CoreChemistry::Answers() {
  if (answers_ == nullptr) answers_ = TargetAnswers::Make();
  return answers_;
}

void CoreChemistry::Release() { delete this; }

Atom* CoreChemistry::AtomAt(std::uint32_t atomNumber) {
  return structure()->AtomAt(atomNumber);
}

void CoreChemistry::CopyFrom(Chemistry* molecule) {
  const CoreChemistry* ours = From(molecule);
  structure_ = ours != nullptr ? ours->structure_ : nullptr;
  answers_.reset();
}

void CoreChemistry::CollectAtoms(ScreenSet* atoms, std::int32_t) {
  if (atoms == nullptr) return;
  const std::uint32_t count = structure()->AtomCount();
  for (std::uint32_t number = 0; number < count; ++number) atoms->Add(number);
}

}  // namespace zolv::rdcore
