// What every benchmark starts from: molecule lists read from SMILES files,
// parsed once up front both as the core library's host molecules (what the
// driver writes) and as RDKit molecules (what RDKit's fingerprint and
// substructure match take), so that no timing includes parsing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "molecule_input.h"
#include "progress_meter.h"
#include "rdcore.h"

namespace RDKit {
class ROMol;
}  // namespace RDKit

namespace zolv::bench {

/// One molecule as read: its SMILES and whatever followed it on the line.
struct SmilesEntry {
  std::string smiles;
  std::string name;
  std::size_t line = 0;  // in its file, from 1
};

/// A named file of molecules, e.g. "fragments" and its path.
struct MoleculeFile {
  std::string label;
  std::string path;
};

/// Reads the first limit molecules (0: all) of a SMILES file, gzipped or
/// not, whatever its extension. A damaged line or a molecule of more than
/// maxAtoms atoms (0: no limit) is reported on stderr and left out. False
/// with a message on a read error.
bool ReadSmilesFile(const std::string& path, std::size_t limit,
                    std::vector<SmilesEntry>* entries, std::string* error,
                    std::size_t maxAtoms = host::kDefaultMaxAtoms);

/// A molecule in both forms; either may be null when its parser refused it.
struct BenchMolecule {
  const SmilesEntry* entry = nullptr;
  std::unique_ptr<rdcore::HostMolecule> host;
  std::unique_ptr<RDKit::ROMol> rdkit;

  BenchMolecule();
  BenchMolecule(BenchMolecule&&) noexcept;
  BenchMolecule& operator=(BenchMolecule&&) noexcept;
  ~BenchMolecule();
};

/// Parses entries as targets or as queries. RDKit reads a SMILES as a
/// molecule (sanitized, hydrogens removed), which is how RDKit's benchmark
/// reads queries as well. Molecules that either parser refuses are left out
/// and counted in *refused, so that both sides work on the same molecules.
std::vector<BenchMolecule> ParseMolecules(
    const std::vector<SmilesEntry>& entries, rdcore::MoleculeRole role,
    std::size_t* refused);

/// The RDKit forms of molecules, borrowed from them.
std::vector<const RDKit::ROMol*> RdkitMolecules(
    const std::vector<BenchMolecule>& molecules);

/// RDKit's pattern fingerprint (RDKit::PatternFingerprintMol) as 64-bit
/// words, for fast subset tests.
using Fingerprint = std::vector<std::uint64_t>;
inline constexpr unsigned kFingerprintBits = 2048;
Fingerprint PatternFingerprint(const RDKit::ROMol& molecule);

/// Whether every bit of query is set in target.
bool IsSubset(const Fingerprint& query, const Fingerprint& target);

/// RDKit's substructure match, as a search confirms a candidate (stereo
/// ignored, default parameters).
bool HasSubstructure(const RDKit::ROMol& target, const RDKit::ROMol& query);

using host::ProgressMeter;
using host::SecondsSince;

}  // namespace zolv::bench
