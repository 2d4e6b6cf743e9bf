#include "query_input.h"

#include <utility>

#include "molecule_input.h"

namespace zolv::host {

QueryInput QueryOfOption(const std::string& option, const std::string& text,
                         std::size_t maxAtoms) {
  QueryInput query;
  query.kind = option == "smiles" ? search::QueryKind::kSmiles
                                  : search::QueryKind::kSmarts;
  query.text = text;
  query.where = "--" + option;
  query.problem = CheckMoleculeText(query.text, false, maxAtoms).value_or("");
  return query;
}

bool ReadQueryFile(const std::string& path, search::QueryKind kind,
                   std::size_t maxAtoms, std::vector<QueryInput>* queries,
                   std::string* error) {
  if (const auto problem = CheckInputFile(path)) {
    *error = path + ": " + *problem;
    return false;
  }
  MoleculeReader reader;
  if (!reader.Open(path, InputFormat::kSmiles, error)) {
    *error = path + ": cannot open: " + *error;
    return false;
  }
  reader.SetMaxAtoms(maxAtoms);
  InputRecord record;
  while (reader.Next(&record)) {
    QueryInput query;
    query.problem = record.problem;
    query.kind = kind;
    query.text = record.text;
    query.name = record.name;
    query.where = path + ":" + std::to_string(record.line);
    queries->push_back(std::move(query));
  }
  if (!reader.error().empty()) {
    *error = path + ": read error: " + reader.error();
    return false;
  }
  return true;
}

}  // namespace zolv::host
