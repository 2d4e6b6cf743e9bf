#include "postgres_connection.h"

#include "plain_text.h"
#include "sql_text_store.h"

namespace zolv::search {

std::string Trimmed(const char* message) {
  return std::string(TrimWhiteSpace(message != nullptr ? message : ""));
}

void IgnoreNotice(void*, const char*) {}

void Parameters::AddScreens(const std::vector<std::uint32_t>& screens) {
  Add(ScreenArray(screens), kInt4ArrayOid, kTextFormat);
}

std::int64_t BinaryInt8(const char* bytes) {
  std::uint64_t value = 0;
  for (int i = 0; i < 8; ++i) {
    value = (value << 8) | static_cast<unsigned char>(bytes[i]);
  }
  return static_cast<std::int64_t>(value);
}

std::string Value(const PGresult* result, int row, int column) {
  return std::string(
      PQgetvalue(result, row, column),
      static_cast<std::size_t>(PQgetlength(result, row, column)));
}

bool PostgresConnection::Command(const std::string& sql, std::string* error) {
  Result result(PQexec(connection_.get(), sql.c_str()));
  if (PQresultStatus(result.get()) != PGRES_COMMAND_OK) {
    if (error != nullptr) {
      *error = Message("\"" + sql + "\" failed", result.get());
    }
    return false;
  }
  return true;
}

bool PostgresConnection::Execute(const std::string& sql, Parameters* parameters,
                                 ExecStatusType expected, std::string* error) {
  Result result = Run(sql, parameters, kTextFormat);
  if (PQresultStatus(result.get()) != expected) {
    *error = Message("statement failed", result.get());
    return false;
  }
  return true;
}

Result PostgresConnection::Query(const std::string& sql, Parameters* parameters,
                                 std::string* error, int format) {
  Result result = Run(sql, parameters, format);
  if (PQresultStatus(result.get()) != PGRES_TUPLES_OK) {
    *error = Message("query failed", result.get());
    return nullptr;
  }
  return result;
}

Result PostgresConnection::Run(const std::string& sql, Parameters* parameters,
                               int format) {
  if (parameters == nullptr) {
    return Result(PQexecParams(connection_.get(), sql.c_str(), 0, nullptr,
                               nullptr, nullptr, nullptr, format));
  }
  parameters->Finish();
  return Result(PQexecParams(connection_.get(), sql.c_str(),
                             parameters->count(), parameters->types(),
                             parameters->values(), parameters->lengths(),
                             parameters->formats(), format));
}

void PostgresConnection::Drain() {
  while (Result(PQgetResult(connection_.get()))) {
  }
}

std::string PostgresConnection::Message(const std::string& what,
                                        const PGresult* result) const {
  const char* detail = result != nullptr ? PQresultErrorMessage(result) : "";
  if (detail == nullptr || *detail == '\0') {
    detail = PQerrorMessage(connection_.get());
  }
  return Describe() + ": " + what + ": " + Trimmed(detail);
}

std::string PostgresConnection::Literal(const std::string& value) const {
  char* quoted =
      PQescapeLiteral(connection_.get(), value.c_str(), value.size());
  if (quoted == nullptr) return "''";
  std::string text = quoted;
  PQfreemem(quoted);
  return text;
}

std::string PostgresConnection::Describe() const {
  const char* db = PQdb(connection_.get());
  return std::string("PostgreSQL database ") + (db != nullptr ? db : "?");
}

}  // namespace zolv::search
