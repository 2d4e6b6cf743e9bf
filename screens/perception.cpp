#include "perception.h"

namespace zolv {
namespace {

Chemistry* MoleculeOf(HostObject* host) {
  return host == nullptr ? nullptr : host->GetChemistry();
}

// The prescreen: false only when the screen cannot occur in the molecule.
// Without both indexes nothing can be ruled out.
bool MayOccur(ScreenRecord& screen, ScreenRecord& molecule) {
  screen.EnsureIndex();
  molecule.EnsureIndex();
  if (!screen.index || !molecule.index) return true;
  return screen.index->MayOccurIn(molecule.index.get()) != 0;
}

}  // namespace

bool ComputeScreens(HostObject* host, std::uint8_t screenMode, ScreenSet* out,
                    const char* screenFileName) {
  if (out == nullptr) return true;
  ScreenDictionary dictionary;
  dictionary.Open(screenFileName);
  if (screenMode != 0) {
    PerceiveQuery(dictionary, host, out, kQueryModeCode);
  } else {
    PerceiveTarget(dictionary, host, kTargetModeCode);
    std::uint32_t number = 0;
    for (std::uint32_t i = 1; i <= dictionary.ResultCount(); ++i) {
      dictionary.ResultAt(i, &number);
      out->Add(number);
    }
  }
  dictionary.Close();
  return true;
}

bool PerceiveTarget(ScreenDictionary& dictionary, HostObject* host,
                    int modeCode) {
  ScreenRecord molecule;
  molecule.SetFromMolecule(MoleculeOf(host));
  dictionary.ClearResults();
  Perceive(dictionary, molecule, modeCode, 1);
  std::uint32_t number = 0;
  for (std::uint32_t from = 0; molecule.implied.NextFrom(from, &number);
       from = number + 1) {
    // Lists that name numbers no record carries can find more screens than
    // the list holds; the rest is dropped rather than written past its end.
    if (!dictionary.AppendResult(number)) break;
  }
  return true;
}

bool PerceiveQuery(ScreenDictionary& dictionary, HostObject* host,
                   ScreenSet* out, int modeCode) {
  ScreenRecord molecule;
  dictionary.ClearResults();
  molecule.SetFromMolecule(MoleculeOf(host));
  Perceive(dictionary, molecule, modeCode, 0);

  const ScreenSet& found = molecule.implied;
  out->Assign(found);
  std::uint32_t number = 0;
  for (std::uint32_t from = 0; found.NextFrom(from, &number);
       from = number + 1) {
    // A number that no record carries implies nothing.
    const ScreenRecord* record = dictionary.RecordNumbered(number);
    if (record != nullptr) out->Subtract(*out, record->implied);
  }
  // Only a cycle of implications empties the set; one screen still has to
  // stand for the query.
  std::uint32_t smallest = 0;
  if (found.First(&smallest) && out->IsEmpty()) out->Add(smallest);
  return true;
}

void Perceive(ScreenDictionary& dictionary, ScreenRecord& molecule,
              int modeCode, std::uint8_t prescreen) {
  const bool query = modeCode == kQueryModeCode;
  ScreenSet candidates;
  for (std::uint32_t i = 0; i < dictionary.count(); ++i) {
    candidates.Add(dictionary.RecordAt(i).number);
  }
  bool passed = true;
  for (std::uint32_t i = 0; i < dictionary.count(); ++i) {
    ScreenRecord& screen = dictionary.RecordAt(i);
    if (!candidates.Contains(screen.number)) {
      candidates.Subtract(candidates, screen.dependent);
      continue;
    }
    if (prescreen != 0) passed = MayOccur(screen, molecule);
    if (!passed) {
      candidates.Subtract(candidates, screen.dependent);
      continue;
    }
    molecule.EnsureChemistry();
    Chemistry* structure = molecule.chemistry.get();
    const bool present =
        query ? QueryTest(screen, structure) : TargetTest(screen, structure);
    if (present) {
      molecule.implied.Add(screen.number);
      molecule.implied.Unite(molecule.implied, screen.implied);
      candidates.Subtract(candidates, screen.implied);
    } else {
      candidates.Subtract(candidates, screen.dependent);
    }
  }
}

bool TargetTest(ScreenRecord& screen, Chemistry* molecule) {
  Matcher* matcher = screen.TargetMatcher();
  if (matcher == nullptr || molecule == nullptr) return false;
  matcher->SetTarget(molecule);
  return matcher->NextMatch(nullptr) != 0;
}

bool QueryTest(ScreenRecord& screen, Chemistry* molecule) {
  QueryMatcher* matcher = screen.GetQueryMatcher();
  if (matcher == nullptr || molecule == nullptr) return false;
  matcher->SetTarget(molecule);
  return matcher->FindAcceptedMatch();
}

}  // namespace zolv
