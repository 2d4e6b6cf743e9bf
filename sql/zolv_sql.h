/* The work behind the SQL functions zolv_match, zolv_pattern, zolv_text and
 * zolv_contains, shared by the SQLite and the PostgreSQL extension through
 * this plain C interface: patterns and target texts written by the format
 * driver through one driver session per dictionary, the byte-exact matcher
 * that zolv search uses, and the substructure check that confirms a hit.
 *
 * Nothing here throws, longjmps or prints: every call reports through its
 * result (ZOLV_SQL_OK, ZOLV_SQL_ERROR with a message, ZOLV_SQL_NOMEM), so
 * that neither a C++ exception nor a toolkit error reaches the database's
 * own error handling. Bytes handed out are the caller's, released with
 * zolv_sql_free. */
#ifndef ZOLV_SQL_H_
#define ZOLV_SQL_H_

#include <stddef.h>

#define ZOLV_SQL_API __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

/* Results. */
#define ZOLV_SQL_OK 0
#define ZOLV_SQL_ERROR 1 /* the message says what was wrong */
#define ZOLV_SQL_NOMEM 2

/* Limits on the inputs, checked before anything is parsed. */
#define ZOLV_SQL_MAX_MOLECULE_BYTES 100000 /* a SMILES or SMARTS */
#define ZOLV_SQL_MAX_OPTIONS_BYTES 4096
/* zolv_match's pattern when the database sets no limit of its own (SQLite's
 * default limit on LIKE and GLOB patterns). */
#define ZOLV_SQL_MAX_PATTERN_BYTES 50000

/* How a query text is read. */
#define ZOLV_SQL_SMILES 0
#define ZOLV_SQL_SMARTS 1
#define ZOLV_SQL_NOTATION_UNSAID (-1) /* as the options say; else SMILES */

/* Wildcard dialects of a pattern: Access ("*", "?", "[...]", the rules of
 * GLOB) and ODBC ("%", "_", the rules of LIKE without escape character). */
#define ZOLV_SQL_ACCESS 0
#define ZOLV_SQL_ODBC 1

/* The form a pattern is handed out in. */
#define ZOLV_SQL_AS_WRITTEN 0 /* as the driver wrote it, for zolv_match */
#define ZOLV_SQL_AS_LIKE 1    /* for LIKE ... ESCAPE '': Access translated */

/* Room for a message with its NUL; a longer one is cut. */
#define ZOLV_SQL_MESSAGE_SIZE 512

typedef struct ZolvSqlMessage {
  char text[ZOLV_SQL_MESSAGE_SIZE];
} ZolvSqlMessage;

/* The driver beside this library with the dictionaries the calls name, each
 * opened on first need and kept; one per database connection. Its calls may
 * come from any thread, one at a time or not. Null when out of memory. */
typedef struct ZolvSqlWriter ZolvSqlWriter;
ZOLV_SQL_API ZolvSqlWriter* zolv_sql_writer_new(void);
ZOLV_SQL_API void zolv_sql_writer_free(ZolvSqlWriter* writer);

/* The "SBI" pattern of a query (SMILES, or SMARTS), as zolv pattern writes
 * it. options: space-separated key=value pairs, a value in single or double
 * quotes when it holds spaces: variant=raw|alphabet, dialect=access|odbc,
 * dictionary=PATH (default: default.vetorb beside the driver), length=N
 * (default: the whole pattern), query=smiles|smarts. notation, when said,
 * must agree with query=. On success *pattern holds *size bytes. */
ZOLV_SQL_API int zolv_sql_write_pattern(ZolvSqlWriter* writer,
                                        const char* query, size_t querySize,
                                        const char* options, size_t optionsSize,
                                        int notation, int form, char** pattern,
                                        size_t* size, ZolvSqlMessage* message);

/* The "SBI" target text of a molecule given as SMILES, as zolv index stores
 * it. options: variant, dictionary and length as above. */
ZOLV_SQL_API int zolv_sql_write_text(ZolvSqlWriter* writer, const char* smiles,
                                     size_t smilesSize, const char* options,
                                     size_t optionsSize, char** text,
                                     size_t* size, ZolvSqlMessage* message);

/* 1 when options name a dictionary (a file the database server would then
 * read for its user), else 0; malformed options are left to the calls. */
ZOLV_SQL_API int zolv_sql_options_name_dictionary(const char* options,
                                                  size_t size);

/* "smiles" or "smarts", in any letter case: ZOLV_SQL_SMILES or
 * ZOLV_SQL_SMARTS; -1 for any other word. */
ZOLV_SQL_API int zolv_sql_notation(const char* word, size_t size);

/* A query read once, for substructure checks of many molecules. */
typedef struct ZolvSqlQuery ZolvSqlQuery;
ZOLV_SQL_API int zolv_sql_query_parse(const char* text, size_t size,
                                      int notation, ZolvSqlQuery** query,
                                      ZolvSqlMessage* message);
/* *contains: 1 when the molecule of the SMILES holds the query (RDKit's
 * substructure match, as zolv search confirms with), 0 when not, -1 when the
 * SMILES cannot be read or is beyond the limits. */
ZOLV_SQL_API int zolv_sql_query_is_in(const ZolvSqlQuery* query,
                                      const char* smiles, size_t size,
                                      int* contains, ZolvSqlMessage* message);
ZOLV_SQL_API void zolv_sql_query_free(ZolvSqlQuery* query);

/* A pattern compiled once for the byte-exact match of many texts: every
 * byte, NUL included, compared as it is, letter case too. */
typedef struct ZolvSqlPattern ZolvSqlPattern;
ZOLV_SQL_API int zolv_sql_pattern_compile(const char* pattern, size_t size,
                                          int dialect,
                                          ZolvSqlPattern** compiled,
                                          ZolvSqlMessage* message);
/* 1 when the pattern matches the whole text, else 0. */
ZOLV_SQL_API int zolv_sql_pattern_matches(const ZolvSqlPattern* compiled,
                                          const char* text, size_t size);
ZOLV_SQL_API void zolv_sql_pattern_free(ZolvSqlPattern* compiled);

/* Releases bytes this library handed out; null is allowed. */
ZOLV_SQL_API void zolv_sql_free(void* bytes);

#ifdef __cplusplus
}
#endif

#endif /* ZOLV_SQL_H_ */
