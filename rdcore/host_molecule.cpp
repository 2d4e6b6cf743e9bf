#include <GraphMol/Chirality.h>
#include <GraphMol/FileParsers/FileParsers.h>
#include <GraphMol/RDKitBase.h>
#include <GraphMol/SmilesParse/SmilesParse.h>
#include <RDGeneral/RDLog.h>

#include <exception>
#include <mutex>
#include <utility>

#include "chemistry.h"
#include "rdcore.h"
#include "structure.h"

namespace zolv::rdcore {

struct HostMoleculeMaker {
  static std::unique_ptr<HostMolecule> Make(
      std::shared_ptr<const Structure> structure, MoleculeRole role,
      std::string name) {
    auto* chemistry = new CoreChemistry(std::move(structure));
    return std::unique_ptr<HostMolecule>(
        new HostMolecule(chemistry, role, std::move(name)));
  }
};

namespace {

constexpr std::string_view kWhiteSpace = " \t\r\n\f\v";

std::string_view Trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(kWhiteSpace);
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(kWhiteSpace);
  return text.substr(first, last - first + 1);
}

// RDKit writes parse errors to its logs, which would reach the host's
// standard error in the middle of its output.
void SilenceToolkitLogs() {
  static std::once_flag once;
  std::call_once(once, [] { boost::logging::disable_logs("rdApp.*"); });
}

std::string Describe(Notation notation) {
  switch (notation) {
    case Notation::kSmiles:
      return "SMILES";
    case Notation::kSmarts:
      return "SMARTS";
    case Notation::kMolBlock:
      return "molfile";
  }
  return "molecule";
}

// The toolkit's legacy stereo perception ranks the atoms over and over, in
// time growing about as the cube of the atom count (a 1,500-atom chain: 23 s
// against 0.09 s); matching ignores stereo anyway. The choice is a process
// global that a parse with another setting switches while it runs, so a
// per-molecule choice would let threads change each other's perception: it
// is made once, when the library loads, for every parse.
const bool kNewerStereoPerception =
    (RDKit::Chirality::setUseLegacyStereoPerception(false), true);

std::unique_ptr<RDKit::RWMol> Parse(std::string_view text, Notation notation) {
  switch (notation) {
    case Notation::kSmiles: {
      const std::string smiles(text);
      RDKit::SmilesParserParams params;
      params.useLegacyStereo = false;
      return std::unique_ptr<RDKit::RWMol>(RDKit::SmilesToMol(smiles, params));
    }
    case Notation::kSmarts:
      return std::unique_ptr<RDKit::RWMol>(
          RDKit::SmartsToMol(std::string(text)));
    case Notation::kMolBlock:
      return std::unique_ptr<RDKit::RWMol>(
          RDKit::MolBlockToMol(std::string(text)));
  }
  return nullptr;
}

}  // namespace

HostMolecule::HostMolecule(Chemistry* chemistry, MoleculeRole role,
                           std::string name)
    : chemistry_(chemistry), role_(role), name_(std::move(name)) {}

HostMolecule::~HostMolecule() { chemistry_->Release(); }

Status HostMolecule::IsOfType(std::int32_t typeCode) {
  return typeCode == kMoleculeType ? 1 : 0;
}

Chemistry* HostMolecule::GetChemistry() { return chemistry_; }

ParsedMolecule ParseMolecule(std::string_view text, Notation notation,
                             MoleculeRole role) {
  ParsedMolecule result;
  try {
    SilenceToolkitLogs();
    const std::string kind = Describe(notation);
    // A molfile's first line is its title, which may be blank.
    const std::string_view input =
        notation == Notation::kMolBlock ? text : Trimmed(text);
    if (Trimmed(input).empty()) {
      result.error = "no " + kind + " text";
      return result;
    }
    if (notation == Notation::kSmarts && role == MoleculeRole::kTarget) {
      result.error = "a SMARTS pattern can only be written as a query";
      return result;
    }
    const std::string quoted = notation == Notation::kMolBlock
                                   ? ""
                                   : " \"" + std::string(input) + "\"";
    std::unique_ptr<RDKit::RWMol> mol;
    try {
      mol = Parse(input, notation);
    } catch (const std::exception& error) {
      result.error = "cannot read " + kind + quoted + ": " + error.what();
      return result;
    }
    if (mol == nullptr) {
      result.error = "cannot read " + kind + quoted;
      return result;
    }
    std::string name;
    if (notation == Notation::kMolBlock) {
      mol->getPropIfPresent(RDKit::common_properties::_Name, name);
    }
    const StructureRole structureRole = role == MoleculeRole::kQuery
                                            ? StructureRole::kQuery
                                            : StructureRole::kTarget;
    result.molecule = HostMoleculeMaker::Make(
        BuildMoleculeStructure(std::move(mol), structureRole), role,
        std::move(name));
  } catch (const std::exception& error) {
    result.molecule.reset();
    result.error = std::string("cannot make the molecule: ") + error.what();
  } catch (...) {
    result.molecule.reset();
    result.error = "cannot make the molecule";
  }
  return result;
}

}  // namespace zolv::rdcore
