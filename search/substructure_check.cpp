#include "substructure_check.h"

#include <GraphMol/Depictor/RDDepictor.h>
#include <GraphMol/FileParsers/FileParsers.h>
#include <GraphMol/ROMol.h>
#include <GraphMol/RWMol.h>
#include <GraphMol/SmilesParse/SmilesParse.h>
#include <GraphMol/SmilesParse/SmilesWrite.h>
#include <GraphMol/Substruct/SubstructMatch.h>

#include <algorithm>
#include <exception>
#include <unordered_map>
#include <utility>

namespace zolv::search {
namespace {

// RDKit reports unreadable input by exception or by a null molecule.
std::unique_ptr<RDKit::ROMol> ReadSmiles(const std::string& text,
                                         std::string* error) {
  try {
    std::unique_ptr<RDKit::ROMol> molecule(RDKit::SmilesToMol(text));
    if (!molecule) *error = "not a valid SMILES";
    return molecule;
  } catch (const std::exception& failure) {
    *error = failure.what();
  } catch (...) {
    *error = "not a valid SMILES";
  }
  return nullptr;
}

std::unique_ptr<RDKit::ROMol> ReadSmarts(const std::string& text,
                                         std::string* error) {
  try {
    std::unique_ptr<RDKit::ROMol> query(RDKit::SmartsToMol(text));
    if (!query) *error = "not a valid SMARTS";
    return query;
  } catch (const std::exception& failure) {
    *error = failure.what();
  } catch (...) {
    *error = "not a valid SMARTS";
  }
  return nullptr;
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

struct TargetMolecules::Store {
  // A null entry marks a SMILES that could not be read.
  std::unordered_map<std::int64_t, std::unique_ptr<RDKit::ROMol>> molecules;
  std::size_t unreadable = 0;
};

TargetMolecules::TargetMolecules() : store_(std::make_unique<Store>()) {}

TargetMolecules::~TargetMolecules() = default;

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

std::string MolfileToSmiles(const std::string& molfile, std::string* error) {
  try {
    std::unique_ptr<RDKit::ROMol> molecule(RDKit::MolBlockToMol(molfile));
    if (!molecule) {
      *error = "not a valid molfile";
      return {};
    }
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
