// What the PostgreSQL store and its shards share of libpq: owned
// connections and results, the parameters of a statement (every value
// travels as a parameter, never inside SQL text), and one connection with
// the statements run on it and the messages of their failures.
#pragma once

#include <libpq-fe.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zolv::search {

// Type oids of the parameters, from PostgreSQL's catalog.
inline constexpr Oid kInt8Oid = 20;
inline constexpr Oid kTextOid = 25;
inline constexpr Oid kByteaOid = 17;
inline constexpr Oid kInt4ArrayOid = 1007;
// Format codes of parameters and results.
inline constexpr int kTextFormat = 0;
inline constexpr int kBinaryFormat = 1;

struct ConnectionCloser {
  void operator()(PGconn* connection) const { PQfinish(connection); }
};
using Connection = std::unique_ptr<PGconn, ConnectionCloser>;

struct ResultClearer {
  void operator()(PGresult* result) const { PQclear(result); }
};
using Result = std::unique_ptr<PGresult, ResultClearer>;

/// A server message without the line break it ends in.
std::string Trimmed(const char* message);

/// Drops the server's notices ("table does not exist, skipping"), which are
/// no news to the user of a store.
void IgnoreNotice(void*, const char*);

/// The parameters of one statement: values with their types and formats.
class Parameters {
 public:
  void AddText(std::string value) {
    Add(std::move(value), kTextOid, kBinaryFormat);
  }
  void AddBytes(std::string value) {
    Add(std::move(value), kByteaOid, kBinaryFormat);
  }
  void AddInt8(std::int64_t value) {
    Add(std::to_string(value), kInt8Oid, kTextFormat);
  }
  /// Bytes, or NULL when there are none.
  void AddBytesOrNull(const std::optional<std::string>& value) {
    null_.resize(values_.size());
    null_.push_back(!value);
    Add(value.value_or(""), kByteaOid, kBinaryFormat);
  }
  /// Text, or NULL when it is empty.
  void AddTextOrNull(std::string value) {
    null_.resize(values_.size());
    null_.push_back(value.empty());
    Add(std::move(value), kTextOid, kBinaryFormat);
  }
  void AddScreens(const std::vector<std::uint32_t>& screens);
  int count() const { return static_cast<int>(values_.size()); }

  // Pointers into values_: valid until the next Add.
  void Finish() {
    pointers_.clear();
    lengths_.clear();
    null_.resize(values_.size());
    for (std::size_t i = 0; i < values_.size(); ++i) {
      pointers_.push_back(null_[i] ? nullptr : values_[i].c_str());
      lengths_.push_back(static_cast<int>(values_[i].size()));
    }
  }
  const Oid* types() const { return types_.data(); }
  const char* const* values() const { return pointers_.data(); }
  const int* lengths() const { return lengths_.data(); }
  const int* formats() const { return formats_.data(); }

 private:
  void Add(std::string value, Oid type, int format) {
    values_.push_back(std::move(value));
    types_.push_back(type);
    formats_.push_back(format);
  }

  std::vector<std::string> values_;
  std::vector<bool> null_;  // sized on need; missing entries are not NULL
  std::vector<Oid> types_;
  std::vector<int> formats_;
  std::vector<const char*> pointers_;
  std::vector<int> lengths_;
};

/// A big-endian integer of a binary result.
std::int64_t BinaryInt8(const char* bytes);

/// A value as its bytes, in either format.
std::string Value(const PGresult* result, int row, int column);

/// One connection and the statements run on it; every failure's message
/// names the database.
class PostgresConnection {
 public:
  explicit PostgresConnection(Connection connection)
      : connection_(std::move(connection)) {}

  PGconn* get() const { return connection_.get(); }

  /// A statement without result rows; error may be null.
  bool Command(const std::string& sql, std::string* error);
  /// A statement with parameters whose result status must be expected.
  bool Execute(const std::string& sql, Parameters* parameters,
               ExecStatusType expected, std::string* error);
  /// A statement with result rows; null on failure.
  Result Query(const std::string& sql, Parameters* parameters,
               std::string* error, int format = kTextFormat);
  /// A statement as it is; parameters may be null.
  Result Run(const std::string& sql, Parameters* parameters, int format);
  /// Reads the results of a statement sent but given up on.
  void Drain();
  /// "PostgreSQL database NAME: what: the server's message".
  std::string Message(const std::string& what, const PGresult* result) const;
  /// value as an SQL literal of this connection's server.
  std::string Literal(const std::string& value) const;
  /// "PostgreSQL database NAME", for messages.
  std::string Describe() const;

 private:
  Connection connection_;
};

}  // namespace zolv::search
