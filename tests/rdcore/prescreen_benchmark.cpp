// Measures the prescreen on the NCI molecules against the typical screens:
// how many substructure searches it saves and what it costs per molecule.
// Usage: rdcore_prescreen_benchmark [smiles file]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "core_handle.h"
#include "rdcore.h"
#include "typical_screens.h"

namespace zolv {
namespace {

using Clock = std::chrono::steady_clock;
using ChemistryHandle = CoreHandle<Chemistry>;

double Microseconds(Clock::duration duration) {
  return std::chrono::duration<double, std::micro>(duration).count();
}

bool Occurs(Matcher* matcher, Chemistry* screen, Chemistry* target) {
  matcher->SetPattern(screen);
  matcher->SetTarget(target);
  return matcher->NextMatch(nullptr) != 0;
}

int Run(const char* path) {
  std::ifstream file(path);
  if (!file) {
    std::fprintf(stderr, "cannot open %s\n", path);
    return 1;
  }
  std::vector<std::unique_ptr<rdcore::HostMolecule>> molecules;
  std::string line;
  while (std::getline(file, line)) {
    auto parsed = rdcore::ParseMolecule(line.substr(0, line.find('\t')),
                                        rdcore::Notation::kSmiles,
                                        rdcore::MoleculeRole::kTarget);
    if (parsed.molecule != nullptr) {
      molecules.push_back(std::move(parsed.molecule));
    }
  }

  std::vector<ChemistryHandle> screens;
  std::vector<CoreHandle<Index>> screenIndexes;
  for (std::string_view text : testing::kTypicalScreens) {
    screens.emplace_back();
    ZolvCreateChemistry(screens.back().Receive());
    screens.back()->LoadStored(
        static_cast<std::uint32_t>(text.size()),
        reinterpret_cast<const std::uint8_t*>(text.data()));
    screenIndexes.emplace_back();
    ZolvCreateIndex(screenIndexes.back().Receive());
    screenIndexes.back()->Build(screens.back().get());
  }
  CoreHandle<Matcher> matcher;
  ZolvCreateMatcher(matcher.Receive());
  matcher->SetOption(kSubstructureSearch);

  std::size_t pairs = 0, occurring = 0, ruledOut = 0;
  // Per screen: searches that the prescreen let through and found nothing.
  std::vector<std::size_t> missed(screens.size(), 0);
  Clock::duration buildTime{}, compareTime{}, matchTime{}, savedTime{};
  for (auto& molecule : molecules) {
    ChemistryHandle target;
    ZolvCreateChemistry(target.Receive());
    target->CopyFrom(molecule->GetChemistry());

    const Clock::time_point buildStart = Clock::now();
    CoreHandle<Index> index;
    ZolvCreateIndex(index.Receive());
    index->Build(target.get());
    buildTime += Clock::now() - buildStart;

    std::vector<bool> may(screens.size());
    const Clock::time_point compareStart = Clock::now();
    for (std::size_t s = 0; s < screens.size(); ++s) {
      may[s] = screenIndexes[s]->MayOccurIn(index.get()) != 0;
    }
    compareTime += Clock::now() - compareStart;

    for (std::size_t s = 0; s < screens.size(); ++s) {
      const Clock::time_point matchStart = Clock::now();
      const bool occurs = Occurs(matcher.get(), screens[s].get(), target.get());
      const Clock::duration spent = Clock::now() - matchStart;
      matchTime += spent;

      ++pairs;
      if (occurs) ++occurring;
      if (may[s] && !occurs) ++missed[s];
      if (!may[s]) {
        ++ruledOut;
        savedTime += spent;
        if (occurs) {
          std::fprintf(stderr, "UNSOUND: %s ruled out but occurs\n",
                       std::string(testing::kTypicalScreens[s]).c_str());
          return 2;
        }
      }
    }
  }
  const double n = static_cast<double>(molecules.size());
  const std::size_t absent = pairs - occurring;
  std::printf("molecules %zu, screens %zu, pairs %zu\n", molecules.size(),
              screens.size(), pairs);
  std::printf("screen occurs: %zu pairs (%.1f%%); absent: %zu\n", occurring,
              100.0 * occurring / pairs, absent);
  std::printf(
      "prescreen rules out %zu pairs: %.1f%% of all searches, %.1f%% "
      "of the searches that find nothing\n",
      ruledOut, 100.0 * ruledOut / pairs, 100.0 * ruledOut / absent);
  std::printf(
      "per molecule: index build %.2f us, %zu comparisons %.2f us "
      "(%.3f us each)\n",
      Microseconds(buildTime) / n, screens.size(),
      Microseconds(compareTime) / n,
      Microseconds(compareTime) / static_cast<double>(pairs));
  std::printf(
      "per molecule: all %zu searches %.1f us (%.2f us each); the "
      "ruled-out ones cost %.1f us\n",
      screens.size(), Microseconds(matchTime) / n,
      Microseconds(matchTime) / static_cast<double>(pairs),
      Microseconds(savedTime) / n);
  std::printf("screens most often searched in vain:");
  for (int shown = 0; shown < 10; ++shown) {
    const auto worst = std::max_element(missed.begin(), missed.end());
    std::printf(
        " %s (%zu)",
        std::string(testing::kTypicalScreens[worst - missed.begin()]).c_str(),
        *worst);
    *worst = 0;
  }
  std::printf("\n");
  return 0;
}

}  // namespace
}  // namespace zolv

int main(int argc, char** argv) {
  return zolv::Run(argc > 1 ? argv[1]
                            : "/usr/share/RDKit/Data/NCI/first_5K.smi");
}
