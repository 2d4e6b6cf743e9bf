// The confirmation step of a search: RDKit's substructure match of the query
// against each candidate, the ground truth that the preselection must never
// undercut. The index keeps each target's molecule in RDKit's binary form
// beside its SMILES: reading it back costs a small part of parsing the
// SMILES again, which was most of a search's time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace RDKit {
class ROMol;
}  // namespace RDKit

namespace zolv::search {

/// How a query's text is read.
enum class QueryKind {
  kSmiles,  // a molecule; its atoms and bonds must be present as written
  kSmarts,  // a SMARTS pattern
};

/// A query ready to be matched.
class SubstructureQuery {
 public:
  /// Null with the reason in *error when text cannot be read.
  static std::unique_ptr<SubstructureQuery> Parse(QueryKind kind,
                                                  const std::string& text,
                                                  std::string* error);
  ~SubstructureQuery();
  SubstructureQuery(const SubstructureQuery&) = delete;
  SubstructureQuery& operator=(const SubstructureQuery&) = delete;

  /// Whether target contains the query (RDKit substructure match,
  /// stereochemistry ignored). Any number of threads may ask at once.
  bool IsIn(const RDKit::ROMol& target) const;

  /// The same for a molecule given as SMILES; none when it cannot be read.
  std::optional<bool> IsInSmiles(const std::string& smiles) const;
  /// Whether a stored target contains the query: its molecule read as
  /// ReadTarget reads it; false when it cannot be read at all.
  bool IsInStored(const std::string& molecule, const std::string& smiles) const;

 private:
  explicit SubstructureQuery(std::unique_ptr<RDKit::ROMol> query);

  std::unique_ptr<RDKit::ROMol> query_;
};

/// Stored targets parsed from their SMILES, each at most once.
class TargetMolecules {
 public:
  TargetMolecules();
  ~TargetMolecules();
  TargetMolecules(const TargetMolecules&) = delete;
  TargetMolecules& operator=(const TargetMolecules&) = delete;

  /// The molecule of target id, parsed (ParseTarget) from smiles on the
  /// first call for that id; null when the SMILES cannot be read (also
  /// remembered). Owned here and valid as long as this object.
  const RDKit::ROMol* Get(std::int64_t id, const std::string& smiles);

  /// Whether target id has been parsed (successfully or not).
  bool Has(std::int64_t id) const;
  /// Targets whose SMILES could not be read.
  std::size_t unreadable() const;

 private:
  struct Store;
  std::unique_ptr<Store> store_;
};

/// A target's molecule as confirmation reads it: its SMILES parsed, without
/// the legacy stereo perception when the SMILES has no stereo marks (it
/// costs time growing as the cube of the atom count and finds nothing).
/// Null with the reason when the SMILES cannot be read.
std::unique_ptr<RDKit::ROMol> ParseTarget(const std::string& smiles,
                                          std::string* error);

/// The stored form of the molecule ParseTarget gives (RDKit's pickle);
/// empty with the reason when the SMILES cannot be read.
std::string StoredMolecule(const std::string& smiles, std::string* error);

/// What StoredMolecule writes, for the index's settings: "rdkit-pickle"
/// and the RDKit version.
std::string MoleculeFormat();

/// The molecule of a stored target: read from its stored form when it has
/// one that reads, else parsed from its SMILES; null when neither works.
std::unique_ptr<RDKit::ROMol> ReadTarget(const std::string& molecule,
                                         const std::string& smiles);

/// Molecules of stored targets read once (ReadTarget) and kept, for
/// checking many queries against the same targets; about 13 KB each for
/// drug-sized molecules.
class HeldMolecules {
 public:
  HeldMolecules();
  ~HeldMolecules();
  HeldMolecules(const HeldMolecules&) = delete;
  HeldMolecules& operator=(const HeldMolecules&) = delete;

  /// Makes room for count molecules, none read yet.
  void Resize(std::size_t count);
  std::size_t size() const;
  /// Reads molecule i; threads may read different i at once.
  void Read(std::size_t i, const std::string& molecule,
            const std::string& smiles);
  /// Whether molecule i was read and contains query; threads may ask at
  /// once.
  bool Contain(std::size_t i, const SubstructureQuery& query) const;

 private:
  struct Store;
  std::unique_ptr<Store> store_;
};

/// A molecule's canonical SMILES from a molfile (or one SD record); empty
/// with the reason in *error when it cannot be read.
std::string MolfileToSmiles(const std::string& molfile, std::string* error);

/// A molfile of the molecule of a SMILES, with 2D coordinates and title as
/// its first line (line breaks in it written as spaces); empty with the
/// reason in *error when the SMILES cannot be read.
std::string SmilesToMolfile(const std::string& smiles, const std::string& title,
                            std::string* error);

}  // namespace zolv::search
