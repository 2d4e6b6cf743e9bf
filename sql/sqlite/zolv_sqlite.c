/* zolv's SQL functions for SQLite, as SQLite's own extensions ship theirs:
 *
 *   zolv_match(pattern, text, dialect)   1 when the pattern matches the whole
 *                                         text byte for byte, else 0
 *   zolv_pattern(query, options[, notation])  the query's pattern (BLOB)
 *   zolv_text(smiles, options)            a stored molecule's text (BLOB)
 *   zolv_contains(smiles, query[, notation])  1 when the molecule holds the
 *                                         query, 0 when not, NULL when the
 *                                         SMILES cannot be read
 *
 * A NULL argument gives NULL. Bad arguments are errors of the statement,
 * never a crash. Built as libzolv_sqlite.so, SQLite finds the entry point
 * from the file name alone (".load libzolv_sqlite" in the sqlite3 shell,
 * load_extension() elsewhere); built with SQLITE_CORE, the same functions
 * go into a program linked with SQLite, which calls the entry point itself.
 * The work is done by the library behind zolv_sql.h, which the PostgreSQL
 * extension shares. */
#include <sqlite3ext.h>
SQLITE_EXTENSION_INIT1

#include <stddef.h>

#include "zolv_sql.h"
#include "zolv_sqlite.h"

/* What the functions of one connection share: the driver with the
 * dictionaries they have named, released with the last of them. */
typedef struct Connection {
  ZolvSqlWriter* writer;
  int users; /* registered functions still using it, and the entry point */
} Connection;

static void ReleaseConnection(void* data) {
  Connection* connection = (Connection*)data;
  if (--connection->users > 0) return;
  zolv_sql_writer_free(connection->writer);
  sqlite3_free(connection);
}

static void ReportFailure(sqlite3_context* context, const char* function,
                          int result, const ZolvSqlMessage* message) {
  if (result == ZOLV_SQL_NOMEM) {
    sqlite3_result_error_nomem(context);
    return;
  }
  char* text = sqlite3_mprintf("%s: %s", function, message->text);
  if (text == NULL) {
    sqlite3_result_error_nomem(context);
    return;
  }
  sqlite3_result_error(context, text, -1);
  sqlite3_free(text);
}

static int AnyNull(int argc, sqlite3_value** argv) {
  for (int i = 0; i < argc; ++i) {
    if (sqlite3_value_type(argv[i]) == SQLITE_NULL) return 1;
  }
  return 0;
}

/* A value's bytes as stored: a BLOB as it is, a TEXT without its NUL. Null
 * only when SQLite ran out of memory converting a number. */
static const char* BytesOf(sqlite3_value* value, size_t* size) {
  const void* bytes = sqlite3_value_blob(value);
  *size = (size_t)sqlite3_value_bytes(value);
  if (bytes == NULL && *size == 0) return "";
  return (const char*)bytes;
}

/* Returned for a notation argument that names none, the error set. */
#define BAD_NOTATION (-2)

/* The notation argument: ZOLV_SQL_NOTATION_UNSAID when absent. */
static int NotationArgument(sqlite3_context* context, const char* function,
                            int argc, sqlite3_value** argv, int index) {
  if (argc <= index) return ZOLV_SQL_NOTATION_UNSAID;
  size_t size = 0;
  const char* word = BytesOf(argv[index], &size);
  const int notation = word == NULL ? -1 : zolv_sql_notation(word, size);
  if (notation < 0) {
    char* text = sqlite3_mprintf(
        "%s: the notation must be 'smiles' or 'smarts'", function);
    sqlite3_result_error(context, text != NULL ? text : function, -1);
    sqlite3_free(text);
    return BAD_NOTATION;
  }
  return notation;
}

/* zolv_match's pattern compiled once per statement, kept with the pattern
 * argument. */
typedef struct CachedPattern {
  int dialect;
  ZolvSqlPattern* pattern;
} CachedPattern;

static void FreeCachedPattern(void* data) {
  CachedPattern* cached = (CachedPattern*)data;
  zolv_sql_pattern_free(cached->pattern);
  sqlite3_free(cached);
}

static void ResultMatches(sqlite3_context* context,
                          const ZolvSqlPattern* pattern, const char* text,
                          size_t size) {
  sqlite3_result_int(context, zolv_sql_pattern_matches(pattern, text, size));
}

static void MatchFunction(sqlite3_context* context, int argc,
                          sqlite3_value** argv) {
  if (AnyNull(argc, argv)) {
    sqlite3_result_null(context);
    return;
  }
  const int dialect = sqlite3_value_int(argv[2]);
  size_t patternSize = 0;
  size_t textSize = 0;
  const char* pattern = BytesOf(argv[0], &patternSize);
  const char* text = BytesOf(argv[1], &textSize);
  if (pattern == NULL || text == NULL) {
    sqlite3_result_error_nomem(context);
    return;
  }
  /* The limit SQLite's own LIKE and GLOB obey: a match takes up to
   * pattern x text steps. */
  const int limit = sqlite3_limit(sqlite3_context_db_handle(context),
                                  SQLITE_LIMIT_LIKE_PATTERN_LENGTH, -1);
  if (patternSize > (size_t)limit) {
    sqlite3_result_error(context,
                         "zolv_match: the pattern is longer than SQLite's "
                         "limit on LIKE and GLOB patterns",
                         -1);
    return;
  }
  CachedPattern* cached = (CachedPattern*)sqlite3_get_auxdata(context, 0);
  if (cached != NULL && cached->dialect == dialect) {
    ResultMatches(context, cached->pattern, text, textSize);
    return;
  }
  ZolvSqlMessage message;
  ZolvSqlPattern* compiled = NULL;
  int result = zolv_sql_pattern_compile(pattern, patternSize, dialect,
                                        &compiled, &message);
  if (result != ZOLV_SQL_OK) {
    ReportFailure(context, "zolv_match", result, &message);
    return;
  }
  cached = (CachedPattern*)sqlite3_malloc(sizeof *cached);
  if (cached == NULL) {
    ResultMatches(context, compiled, text, textSize);
    zolv_sql_pattern_free(compiled);
    return;
  }
  cached->dialect = dialect;
  cached->pattern = compiled;
  /* SQLite owns it from here on, and may free it at once. */
  sqlite3_set_auxdata(context, 0, cached, FreeCachedPattern);
  cached = (CachedPattern*)sqlite3_get_auxdata(context, 0);
  if (cached != NULL) {
    ResultMatches(context, cached->pattern, text, textSize);
    return;
  }
  result = zolv_sql_pattern_compile(pattern, patternSize, dialect, &compiled,
                                    &message);
  if (result != ZOLV_SQL_OK) {
    ReportFailure(context, "zolv_match", result, &message);
    return;
  }
  ResultMatches(context, compiled, text, textSize);
  zolv_sql_pattern_free(compiled);
}

static void PatternFunction(sqlite3_context* context, int argc,
                            sqlite3_value** argv) {
  if (AnyNull(argc, argv)) {
    sqlite3_result_null(context);
    return;
  }
  const int notation = NotationArgument(context, "zolv_pattern", argc, argv, 2);
  if (notation == BAD_NOTATION) return;
  size_t querySize = 0;
  size_t optionsSize = 0;
  const char* query = BytesOf(argv[0], &querySize);
  const char* options = BytesOf(argv[1], &optionsSize);
  if (query == NULL || options == NULL) {
    sqlite3_result_error_nomem(context);
    return;
  }
  Connection* connection = (Connection*)sqlite3_user_data(context);
  ZolvSqlMessage message;
  char* pattern = NULL;
  size_t size = 0;
  const int result = zolv_sql_write_pattern(
      connection->writer, query, querySize, options, optionsSize, notation,
      ZOLV_SQL_AS_WRITTEN, &pattern, &size, &message);
  if (result != ZOLV_SQL_OK) {
    ReportFailure(context, "zolv_pattern", result, &message);
    return;
  }
  /* SQLite frees it, also when it is too long to be a value. */
  sqlite3_result_blob64(context, pattern, size, zolv_sql_free);
}

static void TextFunction(sqlite3_context* context, int argc,
                         sqlite3_value** argv) {
  if (AnyNull(argc, argv)) {
    sqlite3_result_null(context);
    return;
  }
  size_t smilesSize = 0;
  size_t optionsSize = 0;
  const char* smiles = BytesOf(argv[0], &smilesSize);
  const char* options = BytesOf(argv[1], &optionsSize);
  if (smiles == NULL || options == NULL) {
    sqlite3_result_error_nomem(context);
    return;
  }
  Connection* connection = (Connection*)sqlite3_user_data(context);
  ZolvSqlMessage message;
  char* text = NULL;
  size_t size = 0;
  const int result =
      zolv_sql_write_text(connection->writer, smiles, smilesSize, options,
                          optionsSize, &text, &size, &message);
  if (result != ZOLV_SQL_OK) {
    ReportFailure(context, "zolv_text", result, &message);
    return;
  }
  sqlite3_result_blob64(context, text, size, zolv_sql_free);
}

/* zolv_contains's query read once per statement, kept with the query
 * argument. */
typedef struct CachedQuery {
  int notation;
  ZolvSqlQuery* query;
} CachedQuery;

static void FreeCachedQuery(void* data) {
  CachedQuery* cached = (CachedQuery*)data;
  zolv_sql_query_free(cached->query);
  sqlite3_free(cached);
}

static void ResultContains(sqlite3_context* context, const ZolvSqlQuery* query,
                           const char* smiles, size_t size) {
  ZolvSqlMessage message;
  int contains = -1;
  const int result =
      zolv_sql_query_is_in(query, smiles, size, &contains, &message);
  if (result != ZOLV_SQL_OK) {
    ReportFailure(context, "zolv_contains", result, &message);
  } else if (contains < 0) {
    sqlite3_result_null(context);
  } else {
    sqlite3_result_int(context, contains);
  }
}

static void ContainsFunction(sqlite3_context* context, int argc,
                             sqlite3_value** argv) {
  if (AnyNull(argc, argv)) {
    sqlite3_result_null(context);
    return;
  }
  int notation = NotationArgument(context, "zolv_contains", argc, argv, 2);
  if (notation == BAD_NOTATION) return;
  if (notation == ZOLV_SQL_NOTATION_UNSAID) notation = ZOLV_SQL_SMILES;
  size_t smilesSize = 0;
  size_t querySize = 0;
  const char* smiles = BytesOf(argv[0], &smilesSize);
  const char* text = BytesOf(argv[1], &querySize);
  if (smiles == NULL || text == NULL) {
    sqlite3_result_error_nomem(context);
    return;
  }
  CachedQuery* cached = (CachedQuery*)sqlite3_get_auxdata(context, 1);
  if (cached != NULL && cached->notation == notation) {
    ResultContains(context, cached->query, smiles, smilesSize);
    return;
  }
  ZolvSqlMessage message;
  ZolvSqlQuery* parsed = NULL;
  int result =
      zolv_sql_query_parse(text, querySize, notation, &parsed, &message);
  if (result != ZOLV_SQL_OK) {
    ReportFailure(context, "zolv_contains", result, &message);
    return;
  }
  cached = (CachedQuery*)sqlite3_malloc(sizeof *cached);
  if (cached == NULL) {
    ResultContains(context, parsed, smiles, smilesSize);
    zolv_sql_query_free(parsed);
    return;
  }
  cached->notation = notation;
  cached->query = parsed;
  /* SQLite owns it from here on, and may free it at once. */
  sqlite3_set_auxdata(context, 1, cached, FreeCachedQuery);
  cached = (CachedQuery*)sqlite3_get_auxdata(context, 1);
  if (cached != NULL) {
    ResultContains(context, cached->query, smiles, smilesSize);
    return;
  }
  result = zolv_sql_query_parse(text, querySize, notation, &parsed, &message);
  if (result != ZOLV_SQL_OK) {
    ReportFailure(context, "zolv_contains", result, &message);
    return;
  }
  ResultContains(context, parsed, smiles, smilesSize);
  zolv_sql_query_free(parsed);
}

/* The functions: name, arguments, flags, body. Those that read only their
 * arguments are innocuous; zolv_pattern and zolv_text read the dictionary a
 * path names, so a schema may use them only where it is trusted. */
static const struct {
  const char* name;
  int arguments;
  int flags;
  void (*body)(sqlite3_context*, int, sqlite3_value**);
} kFunctions[] = {
    {"zolv_match", 3, SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS, MatchFunction},
    {"zolv_pattern", 2, SQLITE_DETERMINISTIC, PatternFunction},
    {"zolv_pattern", 3, SQLITE_DETERMINISTIC, PatternFunction},
    {"zolv_text", 2, SQLITE_DETERMINISTIC, TextFunction},
    {"zolv_contains", 2, SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS,
     ContainsFunction},
    {"zolv_contains", 3, SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS,
     ContainsFunction},
};

__attribute__((visibility("default"))) int sqlite3_zolvsqlite_init(
    sqlite3* db, char** error, const sqlite3_api_routines* api) {
  SQLITE_EXTENSION_INIT2(api);
  Connection* connection = (Connection*)sqlite3_malloc(sizeof *connection);
  if (connection == NULL) return SQLITE_NOMEM;
  connection->writer = zolv_sql_writer_new();
  if (connection->writer == NULL) {
    sqlite3_free(connection);
    return SQLITE_NOMEM;
  }
  /* The entry point holds it too, until every function is registered: a
   * failed registration releases its share at once. */
  connection->users = 1;
  int status = SQLITE_OK;
  for (size_t i = 0; i < sizeof kFunctions / sizeof kFunctions[0]; ++i) {
    ++connection->users;
    status = sqlite3_create_function_v2(
        db, kFunctions[i].name, kFunctions[i].arguments,
        SQLITE_UTF8 | kFunctions[i].flags, connection, kFunctions[i].body, NULL,
        NULL, ReleaseConnection);
    if (status != SQLITE_OK) {
      if (error != NULL) {
        *error = sqlite3_mprintf("cannot register %s: %s", kFunctions[i].name,
                                 sqlite3_errmsg(db));
      }
      break;
    }
  }
  ReleaseConnection(connection);
  return status;
}
