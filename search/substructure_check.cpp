#include "substructure_check.h"

#include <GraphMol/Depictor/RDDepictor.h>
#include <GraphMol/FileParsers/FileParsers.h>
#include <GraphMol/MolPickler.h>
#include <GraphMol/ROMol.h>
#include <GraphMol/RWMol.h>
#include <GraphMol/SmilesParse/SmilesWrite.h>
#include <GraphMol/Substruct/SubstructMatch.h>
#include <RDGeneral/versions.h>

#include <algorithm>
#include <exception>
#include <unordered_map>
#include <utility>

#include "rdkit_molecule.h"

namespace zolv::search {
namespace {

// Read as the core library reads them, RDKit's message kept for the user.
std::unique_ptr<RDKit::ROMol> Read(const std::string& text,
                                   rdcore::Notation notation,
                                   const char* refusal, std::string* error) {
  try {
    rdcore::RdkitMolecule read = rdcore::ReadRdkitMolecule(text, {notation});
    if (!read.molecule) *error = read.message.value_or(refusal);
    return std::move(read.molecule);
  } catch (...) {
    *error = refusal;
  }
  return nullptr;
}

std::unique_ptr<RDKit::ROMol> ReadSmiles(const std::string& text,
                                         std::string* error) {
  return Read(text, rdcore::Notation::kSmiles, "not a valid SMILES", error);
}

std::unique_ptr<RDKit::ROMol> ReadSmarts(const std::string& text,
                                         std::string* error) {
  return Read(text, rdcore::Notation::kSmarts, "not a valid SMARTS", error);
}

}  // namespace

SubstructureQuery::SubstructureQuery(std::unique_ptr<RDKit::ROMol> query)
    : query_(std::move(query)) {}

SubstructureQuery::~SubstructureQuery() = default;

std::unique_ptr<SubstructureQuery> SubstructureQuery::Parse(
    QueryKind kind, const std::string& text, std::string* error) {
  std::unique_ptr<RDKit::ROMol> query = kind == QueryKind::kSmiles
                                            ? ReadSmiles(text, error)
                                            : ReadSmarts(text, error);
  if (!query) return nullptr;
  return std::unique_ptr<SubstructureQuery>(
      new SubstructureQuery(std::move(query)));
}

bool SubstructureQuery::IsIn(const RDKit::ROMol& target) const {
  RDKit::MatchVectType match;
  return RDKit::SubstructMatch(target, *query_, match);
}

std::optional<bool> SubstructureQuery::IsInSmiles(
    const std::string& smiles) const {
  std::string error;
  const std::unique_ptr<RDKit::ROMol> target = ReadSmiles(smiles, &error);
  if (!target) return std::nullopt;
  return IsIn(*target);
}

bool SubstructureQuery::IsInStored(const std::string& molecule,
                                   const std::string& smiles) const {
  const std::unique_ptr<RDKit::ROMol> target = ReadTarget(molecule, smiles);
  return target != nullptr && IsIn(*target);
}

struct TargetMolecules::Store {
  // A null entry marks a SMILES that could not be read.
  std::unordered_map<std::int64_t, std::unique_ptr<RDKit::ROMol>> molecules;
  std::size_t unreadable = 0;
};

TargetMolecules::TargetMolecules() : store_(std::make_unique<Store>()) {}

TargetMolecules::~TargetMolecules() = default;

std::unique_ptr<RDKit::ROMol> ParseTarget(const std::string& smiles,
                                          std::string* error) {
  return ReadSmiles(smiles, error);
}

std::string StoredMolecule(const std::string& smiles, std::string* error) {
  const std::unique_ptr<RDKit::ROMol> molecule = ReadSmiles(smiles, error);
  if (!molecule) return {};
  std::string bytes;
  try {
    RDKit::MolPickler::pickleMol(*molecule, bytes);
  } catch (const std::exception& failure) {
    *error = failure.what();
    bytes.clear();
  }
  return bytes;
}

std::string MoleculeFormat() {
  return std::string("rdkit-pickle ") + RDKit::rdkitVersion;
}

std::unique_ptr<RDKit::ROMol> ReadTarget(const std::string& molecule,
                                         const std::string& smiles) {
  if (!molecule.empty()) {
    try {
      auto read = std::make_unique<RDKit::ROMol>();
      RDKit::MolPickler::molFromPickle(molecule, *read);
      return read;
    } catch (...) {
      // Written by an RDKit that this one cannot read: the SMILES is still
      // there.
    }
  }
  std::string error;
  return ReadSmiles(smiles, &error);
}

const RDKit::ROMol* TargetMolecules::Get(std::int64_t id,
                                         const std::string& smiles) {
  const auto found = store_->molecules.find(id);
  if (found != store_->molecules.end()) return found->second.get();
  std::string error;
  std::unique_ptr<RDKit::ROMol> molecule = ReadSmiles(smiles, &error);
  if (!molecule) ++store_->unreadable;
  return store_->molecules.emplace(id, std::move(molecule)).first->second.get();
}

bool TargetMolecules::Has(std::int64_t id) const {
  return store_->molecules.count(id) != 0;
}

std::size_t TargetMolecules::unreadable() const { return store_->unreadable; }

struct HeldMolecules::Store {
  std::vector<std::unique_ptr<RDKit::ROMol>> molecules;
};

HeldMolecules::HeldMolecules() : store_(std::make_unique<Store>()) {}

HeldMolecules::~HeldMolecules() = default;

void HeldMolecules::Resize(std::size_t count) {
  store_->molecules.clear();
  store_->molecules.resize(count);
}

std::size_t HeldMolecules::size() const { return store_->molecules.size(); }

void HeldMolecules::Read(std::size_t i, const std::string& molecule,
                         const std::string& smiles) {
  store_->molecules[i] = ReadTarget(molecule, smiles);
}

bool HeldMolecules::Contain(std::size_t i,
                            const SubstructureQuery& query) const {
  const RDKit::ROMol* molecule = store_->molecules[i].get();
  return molecule != nullptr && query.IsIn(*molecule);
}

std::string MolfileToSmiles(const std::string& molfile, std::string* error) {
  try {
    std::unique_ptr<RDKit::ROMol> molecule = Read(
        molfile, rdcore::Notation::kMolBlock, "not a valid molfile", error);
    if (!molecule) return {};
    std::string smiles = RDKit::MolToSmiles(*molecule);
    if (smiles.empty()) *error = "the molecule has no atoms";
    return smiles;
  } catch (const std::exception& failure) {
    *error = failure.what();
  } catch (...) {
    *error = "not a valid molfile";
  }
  return {};
}

std::string SmilesToMolfile(const std::string& smiles, const std::string& title,
                            std::string* error) {
  std::unique_ptr<RDKit::ROMol> read = ReadSmiles(smiles, error);
  if (!read) return {};
  try {
    RDKit::RWMol molecule(*read);
    try {
      RDDepict::compute2DCoords(molecule);
    } catch (...) {
      // A molfile without coordinates still holds the whole structure.
    }
    // The title is the molfile's first line: a line break would start the
    // next one.
    std::string line = title;
    std::replace(line.begin(), line.end(), '\n', ' ');
    std::replace(line.begin(), line.end(), '\r', ' ');
    molecule.setProp(RDKit::common_properties::_Name, line);
    return RDKit::MolToMolBlock(molecule);
  } catch (const std::exception& failure) {
    *error = failure.what();
  } catch (...) {
    *error = "no molfile for the molecule";
  }
  return {};
}

}  // namespace zolv::search
