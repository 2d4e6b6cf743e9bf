// The confirmation step of a search: RDKit's substructure match of the query
// against each candidate, the ground truth that the preselection must never
// undercut. Targets are parsed once and kept, so that many queries (or a
// full scan of every target) parse each SMILES only once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

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
  /// stereochemistry ignored).
  bool IsIn(const RDKit::ROMol& target) const;

  /// The same for a molecule given as SMILES; none when it cannot be read.
  std::optional<bool> IsInSmiles(const std::string& smiles) const;

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

  /// The molecule of target id, parsed from smiles on the first call for
  /// that id; null when the SMILES cannot be read (also remembered). Owned
  /// here and valid as long as this object.
  const RDKit::ROMol* Get(std::int64_t id, const std::string& smiles);

  /// Whether target id has been parsed (successfully or not).
  bool Has(std::int64_t id) const;
  /// Targets whose SMILES could not be read.
  std::size_t unreadable() const;

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
