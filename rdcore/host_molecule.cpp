#include <GraphMol/Chirality.h>
#include <GraphMol/FileParsers/FileParsers.h>
#include <GraphMol/RDKitBase.h>
#include <GraphMol/SmilesParse/SmilesParse.h>
#include <RDGeneral/RDLog.h>

#include <exception>
#include <mutex>
#include <utility>

#include "chemistry.h"
#include "plain_text.h"
#include "rdcore.h"
#include "rdkit_molecule.h"
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

std::unique_ptr<RDKit::RWMol> Parse(std::string_view text,
                                    const ReadParameters& parameters) {
  switch (parameters.notation) {
    case Notation::kSmiles: {
      const std::string smiles(text);
      RDKit::SmilesParserParams params;
      params.useLegacyStereo = false;
      params.sanitize = parameters.sanitize;
      return std::unique_ptr<RDKit::RWMol>(RDKit::SmilesToMol(smiles, params));
    }
    case Notation::kSmarts:
      return std::unique_ptr<RDKit::RWMol>(
          RDKit::SmartsToMol(std::string(text)));
    case Notation::kMolBlock:
      return std::unique_ptr<RDKit::RWMol>(
          RDKit::MolBlockToMol(std::string(text), parameters.sanitize));
  }
  return nullptr;
}

// What a failed parse says without repeating the text.
std::string Refusal(Notation notation) {
  switch (notation) {
    case Notation::kSmiles:
      return "not valid SMILES";
    case Notation::kSmarts:
      return "not valid SMARTS";
    case Notation::kMolBlock:
      break;
  }
  return "not a valid molfile";
}

}  // namespace

RdkitMolecule ReadRdkitMolecule(std::string_view text,
                                const ReadParameters& parameters) {
  RdkitMolecule read;
  try {
    read.molecule = Parse(text, parameters);
  } catch (const std::exception& error) {
    read.molecule.reset();
    read.message = error.what();
  }
  return read;
}

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
        notation == Notation::kMolBlock ? text : TrimWhiteSpace(text);
    if (TrimWhiteSpace(input).empty()) {
      result.error = "no " + kind + " text";
      result.reason = result.error;
      return result;
    }
    if (notation == Notation::kSmarts && role == MoleculeRole::kTarget) {
      result.error = "a SMARTS pattern can only be written as a query";
      result.reason = result.error;
      return result;
    }
    const std::string quoted = notation == Notation::kMolBlock
                                   ? ""
                                   : " \"" + std::string(input) + "\"";
    RdkitMolecule read = ReadRdkitMolecule(input, {notation});
    std::unique_ptr<RDKit::RWMol> mol = std::move(read.molecule);
    if (mol == nullptr) {
      result.reason = read.message.value_or(Refusal(notation));
      result.error = "cannot read " + kind + quoted +
                     (read.message ? ": " + *read.message : std::string());
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
    result.reason = result.error;
  } catch (...) {
    result.molecule.reset();
    result.error = "cannot make the molecule";
    result.reason = result.error;
  }
  return result;
}

}  // namespace zolv::rdcore
