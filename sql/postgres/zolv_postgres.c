/* zolv's SQL functions for PostgreSQL (CREATE EXTENSION zolv; the SQL
 * script declares them):
 *
 *   zolv_match(pattern bytea, text bytea, dialect integer) -> boolean
 *   zolv_pattern(query text, options text[, notation text]) -> bytea
 *   zolv_text(smiles text, options text) -> bytea
 *   zolv_contains(smiles text, query text[, notation text]) -> boolean
 *
 * zolv_pattern gives a pattern for the server's own LIKE on bytea, used with
 * ESCAPE '' (a backslash is a screen byte like any other): an Access pattern
 * comes translated into LIKE's wildcards, so that it matches at least what
 * it matched before. The work is done by the library behind zolv_sql.h,
 * which reports every failure through its results: no C++ exception and no
 * toolkit error can cross into the server's longjmp-based error handling,
 * and nothing it allocated is held when ereport leaves a function. */
#include "postgres.h"
/* Every other header of the server after postgres.h, which they need. */
#include "catalog/pg_authid_d.h"
#include "fmgr.h"
#include "miscadmin.h"
#include "utils/acl.h"
#include "utils/memutils.h"
#include "zolv_sql.h"

PG_MODULE_MAGIC;

PG_FUNCTION_INFO_V1(zolv_match);
PG_FUNCTION_INFO_V1(zolv_pattern);
PG_FUNCTION_INFO_V1(zolv_text);
PG_FUNCTION_INFO_V1(zolv_contains);

/* The driver with its dictionaries, opened on the backend's first call and
 * kept for its life. */
static ZolvSqlWriter* writer = NULL;

static ZolvSqlWriter* Writer(void) {
  if (writer == NULL) writer = zolv_sql_writer_new();
  if (writer == NULL) {
    ereport(ERROR,
            (errcode(ERRCODE_OUT_OF_MEMORY), errmsg("zolv: out of memory")));
  }
  return writer;
}

static void Fail(const char* function, int result,
                 const ZolvSqlMessage* message) pg_attribute_noreturn();

static void Fail(const char* function, int result,
                 const ZolvSqlMessage* message) {
  if (result == ZOLV_SQL_NOMEM) {
    ereport(ERROR, (errcode(ERRCODE_OUT_OF_MEMORY),
                    errmsg("%s: out of memory", function)));
  }
  ereport(ERROR, (errcode(ERRCODE_INVALID_PARAMETER_VALUE),
                  errmsg("%s: %s", function, message->text)));
}

/* The notation argument, when there is one. */
static int NotationArgument(FunctionCallInfo fcinfo, int index,
                            const char* function) {
  if (PG_NARGS() <= index) return ZOLV_SQL_NOTATION_UNSAID;
  text* word = PG_GETARG_TEXT_PP(index);
  const int notation =
      zolv_sql_notation(VARDATA_ANY(word), VARSIZE_ANY_EXHDR(word));
  if (notation < 0) {
    ereport(ERROR, (errcode(ERRCODE_INVALID_PARAMETER_VALUE),
                    errmsg("%s: the notation must be 'smiles' or 'smarts'",
                           function)));
  }
  return notation;
}

/* A dictionary named in the options is a file the server reads for the
 * user: allowed to those whom PostgreSQL lets read server files. */
static void CheckDictionaryRight(const text* options, const char* function) {
  if (zolv_sql_options_name_dictionary(VARDATA_ANY(options),
                                       VARSIZE_ANY_EXHDR(options)) &&
      !has_privs_of_role(GetUserId(), ROLE_PG_READ_SERVER_FILES)) {
    ereport(ERROR,
            (errcode(ERRCODE_INSUFFICIENT_PRIVILEGE),
             errmsg("%s: only superusers and members of pg_read_server_files "
                    "may name a dictionary",
                    function),
             errhint("Leave dictionary= out to use the default dictionary.")));
  }
}

static bytea* ByteaOf(const char* bytes, size_t size) {
  bytea* result = (bytea*)palloc(VARHDRSZ + size);
  SET_VARSIZE(result, VARHDRSZ + size);
  memcpy(VARDATA(result), bytes, size);
  return result;
}

/* The library's bytes as a bytea, releasing them whatever happens: palloc
 * must not leave through ereport while they are held. */
static bytea* ByteaFromLibrary(char* bytes, size_t size) {
  bytea* result = (bytea*)palloc_extended(VARHDRSZ + size, MCXT_ALLOC_NO_OOM);
  if (result != NULL) {
    SET_VARSIZE(result, VARHDRSZ + size);
    memcpy(VARDATA(result), bytes, size);
  }
  zolv_sql_free(bytes);
  if (result == NULL) {
    ereport(ERROR,
            (errcode(ERRCODE_OUT_OF_MEMORY), errmsg("zolv: out of memory")));
  }
  return result;
}

static bool SameBytes(const bytea* cached, const char* bytes, size_t size) {
  return cached != NULL && VARSIZE_ANY_EXHDR(cached) == size &&
         memcmp(VARDATA_ANY(cached), bytes, size) == 0;
}

/* What a function keeps between the rows of one statement, in the memory
 * of its call site; the library's object is released when that memory is. */
typedef struct CallCache {
  MemoryContextCallback release;
  bytea* key;   /* the arguments it was made for */
  int notation; /* or dialect */
  void* object; /* ZolvSqlPattern or ZolvSqlQuery */
  bytea* value; /* zolv_pattern's result */
} CallCache;

static void ReleasePattern(void* data) {
  CallCache* cache = (CallCache*)data;
  zolv_sql_pattern_free((ZolvSqlPattern*)cache->object);
  cache->object = NULL;
}

static void ReleaseQuery(void* data) {
  CallCache* cache = (CallCache*)data;
  zolv_sql_query_free((ZolvSqlQuery*)cache->object);
  cache->object = NULL;
}

static CallCache* CacheOf(FunctionCallInfo fcinfo,
                          MemoryContextCallbackFunction release) {
  CallCache* cache = (CallCache*)fcinfo->flinfo->fn_extra;
  if (cache == NULL) {
    cache = (CallCache*)MemoryContextAllocZero(fcinfo->flinfo->fn_mcxt,
                                               sizeof(CallCache));
    cache->release.func = release;
    cache->release.arg = cache;
    MemoryContextRegisterResetCallback(fcinfo->flinfo->fn_mcxt,
                                       &cache->release);
    fcinfo->flinfo->fn_extra = cache;
  }
  return cache;
}

/* Makes cache->key a copy of bytes, in the cache's memory. */
static void SetKey(FunctionCallInfo fcinfo, CallCache* cache, const char* bytes,
                   size_t size) {
  if (cache->key != NULL) pfree(cache->key);
  cache->key = NULL;
  MemoryContext previous = MemoryContextSwitchTo(fcinfo->flinfo->fn_mcxt);
  cache->key = ByteaOf(bytes, size);
  MemoryContextSwitchTo(previous);
}

Datum zolv_match(PG_FUNCTION_ARGS) {
  bytea* pattern = PG_GETARG_BYTEA_PP(0);
  bytea* subject = PG_GETARG_BYTEA_PP(1);
  const int32 dialect = PG_GETARG_INT32(2);
  const char* patternBytes = VARDATA_ANY(pattern);
  const size_t patternSize = VARSIZE_ANY_EXHDR(pattern);
  if (patternSize > ZOLV_SQL_MAX_PATTERN_BYTES) {
    ereport(ERROR, (errcode(ERRCODE_PROGRAM_LIMIT_EXCEEDED),
                    errmsg("zolv_match: the pattern is longer than %d bytes",
                           ZOLV_SQL_MAX_PATTERN_BYTES)));
  }
  CallCache* cache = CacheOf(fcinfo, ReleasePattern);
  if (cache->object == NULL || cache->notation != dialect ||
      !SameBytes(cache->key, patternBytes, patternSize)) {
    ZolvSqlMessage message;
    ZolvSqlPattern* compiled = NULL;
    const int result = zolv_sql_pattern_compile(patternBytes, patternSize,
                                                dialect, &compiled, &message);
    if (result != ZOLV_SQL_OK) Fail("zolv_match", result, &message);
    ReleasePattern(cache);
    cache->object = compiled;
    cache->notation = dialect;
    SetKey(fcinfo, cache, patternBytes, patternSize);
  }
  PG_RETURN_BOOL(zolv_sql_pattern_matches((ZolvSqlPattern*)cache->object,
                                          VARDATA_ANY(subject),
                                          VARSIZE_ANY_EXHDR(subject)) == 1);
}

/* The key of zolv_pattern's arguments: query, a NUL, options. */
static bytea* PatternKey(const text* query, const text* options) {
  const size_t querySize = VARSIZE_ANY_EXHDR(query);
  const size_t optionsSize = VARSIZE_ANY_EXHDR(options);
  bytea* key = (bytea*)palloc(VARHDRSZ + querySize + 1 + optionsSize);
  SET_VARSIZE(key, VARHDRSZ + querySize + 1 + optionsSize);
  memcpy(VARDATA(key), VARDATA_ANY(query), querySize);
  VARDATA(key)[querySize] = '\0';
  memcpy(VARDATA(key) + querySize + 1, VARDATA_ANY(options), optionsSize);
  return key;
}

static void ForgetNothing(void* data) { (void)data; }

Datum zolv_pattern(PG_FUNCTION_ARGS) {
  text* query = PG_GETARG_TEXT_PP(0);
  text* options = PG_GETARG_TEXT_PP(1);
  const int notation = NotationArgument(fcinfo, 2, "zolv_pattern");
  CheckDictionaryRight(options, "zolv_pattern");
  /* Called once a row with the same arguments, it writes once: the pattern
   * is kept with them. */
  bytea* key = PatternKey(query, options);
  CallCache* cache = CacheOf(fcinfo, ForgetNothing);
  if (cache->value != NULL && cache->notation == notation &&
      SameBytes(cache->key, VARDATA(key), VARSIZE(key) - VARHDRSZ)) {
    PG_RETURN_BYTEA_P(
        ByteaOf(VARDATA(cache->value), VARSIZE(cache->value) - VARHDRSZ));
  }
  ZolvSqlMessage message;
  char* pattern = NULL;
  size_t size = 0;
  const int result = zolv_sql_write_pattern(
      Writer(), VARDATA_ANY(query), VARSIZE_ANY_EXHDR(query),
      VARDATA_ANY(options), VARSIZE_ANY_EXHDR(options), notation,
      ZOLV_SQL_AS_LIKE, &pattern, &size, &message);
  if (result != ZOLV_SQL_OK) Fail("zolv_pattern", result, &message);
  bytea* value = ByteaFromLibrary(pattern, size);

  if (cache->value != NULL) pfree(cache->value);
  cache->value = NULL;
  SetKey(fcinfo, cache, VARDATA(key), VARSIZE(key) - VARHDRSZ);
  cache->notation = notation;
  MemoryContext previous = MemoryContextSwitchTo(fcinfo->flinfo->fn_mcxt);
  cache->value = ByteaOf(VARDATA(value), size);
  MemoryContextSwitchTo(previous);
  PG_RETURN_BYTEA_P(value);
}

Datum zolv_text(PG_FUNCTION_ARGS) {
  text* smiles = PG_GETARG_TEXT_PP(0);
  text* options = PG_GETARG_TEXT_PP(1);
  CheckDictionaryRight(options, "zolv_text");
  ZolvSqlMessage message;
  char* written = NULL;
  size_t size = 0;
  const int result = zolv_sql_write_text(
      Writer(), VARDATA_ANY(smiles), VARSIZE_ANY_EXHDR(smiles),
      VARDATA_ANY(options), VARSIZE_ANY_EXHDR(options), &written, &size,
      &message);
  if (result != ZOLV_SQL_OK) Fail("zolv_text", result, &message);
  PG_RETURN_BYTEA_P(ByteaFromLibrary(written, size));
}

Datum zolv_contains(PG_FUNCTION_ARGS) {
  text* smiles = PG_GETARG_TEXT_PP(0);
  text* query = PG_GETARG_TEXT_PP(1);
  int notation = NotationArgument(fcinfo, 2, "zolv_contains");
  if (notation == ZOLV_SQL_NOTATION_UNSAID) notation = ZOLV_SQL_SMILES;
  const char* queryBytes = VARDATA_ANY(query);
  const size_t querySize = VARSIZE_ANY_EXHDR(query);
  CallCache* cache = CacheOf(fcinfo, ReleaseQuery);
  if (cache->object == NULL || cache->notation != notation ||
      !SameBytes(cache->key, queryBytes, querySize)) {
    ZolvSqlMessage message;
    ZolvSqlQuery* parsed = NULL;
    const int result = zolv_sql_query_parse(queryBytes, querySize, notation,
                                            &parsed, &message);
    if (result != ZOLV_SQL_OK) Fail("zolv_contains", result, &message);
    ReleaseQuery(cache);
    cache->object = parsed;
    cache->notation = notation;
    SetKey(fcinfo, cache, queryBytes, querySize);
  }
  ZolvSqlMessage message;
  int contains = -1;
  const int result = zolv_sql_query_is_in(
      (const ZolvSqlQuery*)cache->object, VARDATA_ANY(smiles),
      VARSIZE_ANY_EXHDR(smiles), &contains, &message);
  if (result != ZOLV_SQL_OK) Fail("zolv_contains", result, &message);
  if (contains < 0) PG_RETURN_NULL();
  PG_RETURN_BOOL(contains == 1);
}
