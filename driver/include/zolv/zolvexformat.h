/* The two entry points of the zolvexformat11v6 format driver.
 *
 * The host's I/O framework calls them for each object it writes. Both take
 * and return only plain 32-bit values and pointers; no error escapes them but
 * through their results. On 32-bit Windows they are __stdcall and exported as
 * _ZolvPreWrite@12 and _ZolvWrite@16. */
#ifndef ZOLV_ZOLVEXFORMAT_H_
#define ZOLV_ZOLVEXFORMAT_H_

#include <stdint.h>

#if defined(_WIN32)
#define ZOLV_DRIVER_CALL __stdcall
#if defined(ZOLV_BUILDING_DRIVER) || defined(ZOLV_DRIVER_STATIC)
/* windows/zolvexformat11v6.def names the exports: dllexport would add each a
 * second time, without the leading underscore of its decorated name. */
#define ZOLV_DRIVER_API
#else
#define ZOLV_DRIVER_API __declspec(dllimport)
#endif
#else
#define ZOLV_DRIVER_CALL
#define ZOLV_DRIVER_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The host's object and output stream: opaque to the caller here, they are
 * the core library's HostObject and Stream. */
typedef struct ZolvHostObject ZolvHostObject;
typedef struct ZolvStream ZolvStream;

/* Results of ZolvPreWrite. */
#define ZOLV_PREWRITE_ACCEPTED 1
#define ZOLV_PREWRITE_REFUSED 5

/* Results of ZolvWrite. */
#define ZOLV_WRITE_FAILED 0
#define ZOLV_WRITE_DONE 1
#define ZOLV_WRITE_BAD_LENGTH 12

/* 1 when object is missing or is a molecule the driver can write, else 5.
 * second and third are never read. */
ZOLV_DRIVER_API int32_t ZOLV_DRIVER_CALL ZolvPreWrite(ZolvHostObject* object,
                                                      int32_t second,
                                                      int32_t third);

/* Writes the screen text of object to stream under the NUL-terminated option
 * string (or none): 1 when written, 12 when "length" is zero (or, in this
 * build, negative), 0 when no object or stream was given. fourth is never
 * read. */
ZOLV_DRIVER_API int32_t ZOLV_DRIVER_CALL ZolvWrite(ZolvHostObject* object,
                                                   ZolvStream* stream,
                                                   const char* options,
                                                   int32_t fourth);

#ifdef __cplusplus
}
#endif

#endif /* ZOLV_ZOLVEXFORMAT_H_ */
