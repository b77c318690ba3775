/* zenoh-ext's own reader, for the tests and fuzzers that check the client's
 * reader against it; not part of the library. Calls return 0 or a negative
 * code as norvik_zenoh.h's (-7 when the bytes do not read). */
#ifndef NORVIK_ZENOH_EXT_CHECK_H
#define NORVIK_ZENOH_EXT_CHECK_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct ExtCheckReader ExtCheckReader;
/* Gets the reader for the length of the call only; must not unwind. */
typedef void (*ExtCheckReadFn)(void* ctx, ExtCheckReader* reader);

/* Kinds of value */
enum { EXT_CHECK_U8, EXT_CHECK_U16, EXT_CHECK_I16, EXT_CHECK_U32, EXT_CHECK_I32, EXT_CHECK_F32, EXT_CHECK_F64, EXT_CHECK_BOOL };

void ext_check_read_payload(const uint8_t* data, size_t len, ExtCheckReadFn read, void* ctx); /* Reads a copy. */
bool ext_check_done(const ExtCheckReader* reader);                            /* True when no byte is left. */
int8_t ext_check_value(ExtCheckReader* reader, uint8_t kind, void* out);       /* One value. */
int8_t ext_check_values(ExtCheckReader* reader, uint8_t kind, void* out, size_t n); /* n values, no prefix. */
int8_t ext_check_sequence_length(ExtCheckReader* reader, size_t* out);         /* A sequence-length prefix. */
int8_t ext_check_string(ExtCheckReader* reader, const uint8_t** data, size_t* len); /* UTF-8 view until next call. */

#ifdef __cplusplus
}
#endif

#endif /* NORVIK_ZENOH_EXT_CHECK_H */
