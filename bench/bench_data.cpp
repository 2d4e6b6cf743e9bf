#include "bench_data.h"

#include <DataStructs/ExplicitBitVect.h>
#include <GraphMol/Fingerprints/Fingerprints.h>
#include <GraphMol/ROMol.h>
#include <GraphMol/Substruct/SubstructMatch.h>
#include <RDGeneral/RDLog.h>

#include <cstdio>
#include <exception>
#include <utility>

#include "molecule_input.h"
#include "rdkit_molecule.h"

namespace zolv::bench {
namespace {

// Read as the core and the search read SMILES.
std::unique_ptr<RDKit::ROMol> RdkitFromSmiles(const std::string& smiles) {
  return std::move(rdcore::ReadRdkitMolecule(smiles).molecule);
}

}  // namespace

bool ReadSmilesFile(const std::string& path, std::size_t limit,
                    std::vector<SmilesEntry>* entries, std::string* error,
                    std::size_t maxAtoms) {
  if (const auto problem = host::CheckInputFile(path)) {
    *error = path + ": " + *problem;
    return false;
  }
  host::MoleculeReader reader;
  if (!reader.Open(path, host::InputFormat::kSmiles, error)) {
    *error = path + ": cannot open: " + *error;
    return false;
  }
  reader.SetMaxAtoms(maxAtoms);
  host::InputRecord record;
  while ((limit == 0 || entries->size() < limit) && reader.Next(&record)) {
    if (!record.problem.empty()) {
      std::fprintf(stderr, "zolv: %s:%zu: skipped: %s\n", path.c_str(),
                   record.line, record.problem.c_str());
      continue;
    }
    entries->push_back({record.text, record.name, record.line});
  }
  if (!reader.error().empty()) {
    *error = path + ": read error: " + reader.error();
    return false;
  }
  return true;
}

BenchMolecule::BenchMolecule() = default;
BenchMolecule::BenchMolecule(BenchMolecule&&) noexcept = default;
BenchMolecule& BenchMolecule::operator=(BenchMolecule&&) noexcept = default;
BenchMolecule::~BenchMolecule() = default;

std::vector<BenchMolecule> ParseMolecules(
    const std::vector<SmilesEntry>& entries, rdcore::MoleculeRole role,
    std::size_t* refused) {
  // RDKit would log every refused SMILES; the count says enough.
  RDLog::LogStateSetter quiet;
  std::vector<BenchMolecule> molecules;
  molecules.reserve(entries.size());
  *refused = 0;
  for (const SmilesEntry& entry : entries) {
    BenchMolecule molecule;
    molecule.entry = &entry;
    molecule.host =
        rdcore::ParseMolecule(entry.smiles, rdcore::Notation::kSmiles, role)
            .molecule;
    molecule.rdkit = RdkitFromSmiles(entry.smiles);
    if (molecule.host == nullptr || molecule.rdkit == nullptr) {
      ++*refused;
      continue;
    }
    molecules.push_back(std::move(molecule));
  }
  return molecules;
}

Fingerprint PatternFingerprint(const RDKit::ROMol& molecule) {
  Fingerprint words(kFingerprintBits / 64, 0);
  std::unique_ptr<ExplicitBitVect> bits(
      RDKit::PatternFingerprintMol(molecule, kFingerprintBits));
  for (unsigned bit = 0; bit < kFingerprintBits; ++bit) {
    if (bits->getBit(bit)) words[bit / 64] |= std::uint64_t{1} << (bit % 64);
  }
  return words;
}

bool IsSubset(const Fingerprint& query, const Fingerprint& target) {
  for (std::size_t i = 0; i < query.size(); ++i) {
    if ((query[i] & ~target[i]) != 0) return false;
  }
  return true;
}

bool HasSubstructure(const RDKit::ROMol& target, const RDKit::ROMol& query) {
  RDKit::MatchVectType match;
  return RDKit::SubstructMatch(target, query, match);
}

std::vector<const RDKit::ROMol*> RdkitMolecules(
    const std::vector<BenchMolecule>& molecules) {
  std::vector<const RDKit::ROMol*> rdkit;
  rdkit.reserve(molecules.size());
  for (const BenchMolecule& molecule : molecules) {
    rdkit.push_back(molecule.rdkit.get());
  }
  return rdkit;
}

}  // namespace zolv::bench
