/* The entry point of zolv's SQL functions for SQLite. */
#ifndef ZOLV_SQLITE_H_
#define ZOLV_SQLITE_H_

#include <sqlite3.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Registers zolv_match, zolv_pattern, zolv_text and zolv_contains on db.
 * SQLite calls it when it loads libzolv_sqlite (the name it derives from the
 * file's); a program linked with SQLite calls it itself, with api null.
 * SQLITE_OK, or an error code with *error set by sqlite3_mprintf. */
int sqlite3_zolvsqlite_init(sqlite3* db, char** error,
                            const sqlite3_api_routines* api);

#ifdef __cplusplus
}
#endif

#endif /* ZOLV_SQLITE_H_ */
