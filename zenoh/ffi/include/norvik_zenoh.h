/* C ABI of the norvik_zenoh library: the least of Zenoh and zenoh-ext that the
 * Norvik TARN client, its simulated peers and its benchmarks need.
 *
 * Generated from the crate's Rust source by its build (cbindgen); do not edit.
 * Handles are opaque and owned by the caller. Fallible calls return a signed
 * 8-bit result code: 0 on success, negative on failure (values below).
 * Null pointers: a fallible call given a null handle, out pointer, callback or
 * options returns NZ_ENULL and still releases what it consumes; a data
 * pointer may be null only with a length of 0; the drop calls take null; a
 * view of a null handle is empty. */

#ifndef NORVIK_ZENOH_H
#define NORVIK_ZENOH_H



#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>
typedef struct NzBytes NzBytes;

#define NZ_OK 0

#define NZ_EINVAL -1

#define NZ_EIO -3

#define NZ_ENULL -5

// The C++ reader's code for bytes that do not read, as zenoh-ext's.
#define NZ_EDESERIALIZE -7

#define NZ_EUTF8 -9

#define NZ_EGENERIC -128

// Zenoh's "data" priority (1 is the highest), the default of a get.
#define NZ_PRIORITY_DATA 5

typedef struct NzConfig NzConfig;

typedef struct NzKeyExpr NzKeyExpr;

typedef struct NzPublisher NzPublisher;

typedef struct NzQuery NzQuery;

typedef struct NzQueryable NzQueryable;

typedef struct NzSerializer NzSerializer;

typedef struct NzSession NzSession;

typedef struct NzSubscriber NzSubscriber;

// Options of `nz_get`; `payload` (may be null) is consumed by the call.
typedef struct NzGetOptions {
  NzBytes *payload;
  bool zenoh_serialized;
  uint64_t timeout_ms;
  uint8_t priority;
  bool congestion_block;
  // Ask every matching queryable and pass on every reply as it comes
  // (target all, no consolidation), instead of Zenoh's defaults.
  bool all_replies;
  // The selector's parameters (`len` bytes of UTF-8, may be null when 0).
  const char *parameters;
  size_t parameters_len;
} NzGetOptions;

// Reply callback: `ok` is false for an error reply; `key`/`key_len` is the
// replying key (empty for an error reply). Both views are valid only during the call.
typedef void (*NzReplyFn)(void *ctx,
                          bool ok,
                          const NzBytes *payload,
                          const char *key,
                          size_t key_len);

// Called once when Zenoh releases the closure.
typedef void (*NzDropFn)(void *ctx);

// Query callback: the query is borrowed for the call; clone it to answer later.
typedef void (*NzQueryFn)(void *ctx, const struct NzQuery *query);

// Sample callback: the payload view is valid only during the call.
typedef void (*NzSampleFn)(void *ctx, const NzBytes *payload);

#ifdef __cplusplus
extern "C" {
#endif // __cplusplus

// Makes an owned payload from a copy of `len` bytes.
int8_t nz_bytes_copy_from(NzBytes **out, const uint8_t *data, size_t len);

// Number of bytes in the payload.
size_t nz_bytes_len(const NzBytes *bytes);

// Copies up to `cap` bytes of the payload to `out`; returns how many were copied.
size_t nz_bytes_copy_to(const NzBytes *bytes, uint8_t *out, size_t cap);

// Points `data`/`len` at the payload's bytes when they lie in one slice
// (valid while the payload lives); false when they are split or an argument is null.
bool nz_bytes_contiguous(const NzBytes *bytes, const uint8_t **data, size_t *len);

// Releases a payload.
void nz_bytes_drop(NzBytes *bytes);

// Zenoh's reason for the last failure on this thread of a call that documents
// one (configuration, open); valid until that thread's next such failure.
const char *nz_last_error(void);

// Builds a key expression from `len` bytes of text, canonising it first.
int8_t nz_keyexpr_autocanonize(struct NzKeyExpr **out, const char *text, size_t len);

// Builds a key expression from `len` bytes of text that must already be
// canonical; NZ_EINVAL otherwise.
int8_t nz_keyexpr_from_str(struct NzKeyExpr **out, const char *text, size_t len);

// Gives a view of the key expression's text, valid while the handle lives.
const char *nz_keyexpr_as_str(const struct NzKeyExpr *ke, size_t *len);

// Releases a key expression.
void nz_keyexpr_drop(struct NzKeyExpr *ke);

// Declares a publisher with default options and the zenoh serialized encoding.
int8_t nz_declare_publisher(struct NzPublisher **out,
                            const struct NzSession *session,
                            const struct NzKeyExpr *ke);

// Publishes `payload`; consumes it.
int8_t nz_publisher_put(const struct NzPublisher *publisher, NzBytes *payload);

// Undeclares the publisher and releases its handle.
int8_t nz_undeclare_publisher(struct NzPublisher *publisher);

// Issues a get; `on_drop(ctx)` runs once when the query ends (also when this call fails).
int8_t nz_get(const struct NzSession *session,
              const struct NzKeyExpr *ke,
              const struct NzGetOptions *options,
              NzReplyFn on_reply,
              NzDropFn on_drop,
              void *ctx);

// Declares a queryable; `on_drop(ctx)` runs once when Zenoh releases the callback.
int8_t nz_declare_queryable(struct NzQueryable **out,
                            const struct NzSession *session,
                            const struct NzKeyExpr *ke,
                            NzQueryFn on_query,
                            NzDropFn on_drop,
                            void *ctx);

// Undeclares the queryable; on return no callback of it runs or will run.
int8_t nz_undeclare_queryable(struct NzQueryable *q);

// The query's payload, or null when it has none; valid while the query lives.
const NzBytes *nz_query_payload(const struct NzQuery *q);

// The query's selector parameters (the text after '?', empty when none);
// valid while the query lives.
const char *nz_query_parameters(const struct NzQuery *q, size_t *len);

// Keeps a query beyond its callback, to answer it later.
int8_t nz_query_clone(struct NzQuery **out, const struct NzQuery *q);

// Releases a kept query; the query ends when its last handle goes.
void nz_query_drop(struct NzQuery *q);

// Sends a good reply on the query's key; consumes `payload`.
int8_t nz_query_reply(const struct NzQuery *q, NzBytes *payload, bool zenoh_serialized);

// Sends an error reply; consumes `payload`.
int8_t nz_query_reply_err(const struct NzQuery *q, NzBytes *payload);

// Starts an empty serializer.
int8_t nz_serializer_new(struct NzSerializer **out);

// Finishes the serializer into a payload; consumes the serializer.
int8_t nz_serializer_finish(struct NzSerializer *ser, NzBytes **out);

// Releases an unfinished serializer.
void nz_serializer_drop(struct NzSerializer *ser);

// Writes one u8.
int8_t nz_ser_u8(struct NzSerializer *ser, uint8_t value);

// Writes `n` u8 values, without a length prefix.
int8_t nz_ser_u8_n(struct NzSerializer *ser, const uint8_t *data, size_t n);

// Writes one u16.
int8_t nz_ser_u16(struct NzSerializer *ser, uint16_t value);

// Writes `n` u16 values, without a length prefix.
int8_t nz_ser_u16_n(struct NzSerializer *ser, const uint16_t *data, size_t n);

// Writes one i16.
int8_t nz_ser_i16(struct NzSerializer *ser, int16_t value);

// Writes `n` i16 values, without a length prefix.
int8_t nz_ser_i16_n(struct NzSerializer *ser, const int16_t *data, size_t n);

// Writes one u32.
int8_t nz_ser_u32(struct NzSerializer *ser, uint32_t value);

// Writes `n` u32 values, without a length prefix.
int8_t nz_ser_u32_n(struct NzSerializer *ser, const uint32_t *data, size_t n);

// Writes one i32.
int8_t nz_ser_i32(struct NzSerializer *ser, int32_t value);

// Writes `n` i32 values, without a length prefix.
int8_t nz_ser_i32_n(struct NzSerializer *ser, const int32_t *data, size_t n);

// Writes one f32.
int8_t nz_ser_f32(struct NzSerializer *ser, float value);

// Writes `n` f32 values, without a length prefix.
int8_t nz_ser_f32_n(struct NzSerializer *ser, const float *data, size_t n);

// Writes one f64.
int8_t nz_ser_f64(struct NzSerializer *ser, double value);

// Writes `n` f64 values, without a length prefix.
int8_t nz_ser_f64_n(struct NzSerializer *ser, const double *data, size_t n);

// Writes one bool (one byte).
int8_t nz_ser_bool(struct NzSerializer *ser, bool value);

// Writes `n` bools, without a length prefix.
int8_t nz_ser_bool_n(struct NzSerializer *ser, const bool *data, size_t n);

// Writes a sequence-length prefix.
int8_t nz_ser_seq_len(struct NzSerializer *ser, size_t len);

// Writes a string of `len` bytes, which must be UTF-8.
int8_t nz_ser_string(struct NzSerializer *ser, const uint8_t *data, size_t len);

// Creates Zenoh's default configuration.
int8_t nz_config_default(struct NzConfig **out);

// Reads a configuration file (JSON5, JSON or YAML, by its extension), as
// Zenoh's own tools do; on failure `nz_last_error` gives Zenoh's reason.
int8_t nz_config_from_file(struct NzConfig **out, const char *path);

// Parses a configuration from JSON5 text; on failure `nz_last_error` gives Zenoh's reason.
int8_t nz_config_from_json5(struct NzConfig **out, const char *text);

// Sets the value at `key` (a path such as "connect/endpoints") from JSON5
// text; on failure `nz_last_error` gives Zenoh's reason and the
// configuration is unchanged.
int8_t nz_config_insert_json5(struct NzConfig *config, const char *key, const char *value);

// The value at `key` as JSON text, written to `out` (NUL-terminated, cut to
// `cap` bytes); returns the full length, or a negative code.
ptrdiff_t nz_config_get_json(const struct NzConfig *config, const char *key, char *out, size_t cap);

// Releases a configuration that was not consumed by `nz_open`.
void nz_config_drop(struct NzConfig *config);

// Opens a session; consumes `config` whatever the outcome. On failure
// `nz_last_error` gives Zenoh's reason (for a client whose routers cannot
// be reached, it names their endpoints).
int8_t nz_open(struct NzSession **out, struct NzConfig *config);

// Closes the session and releases its handle.
int8_t nz_close(struct NzSession *session);

// Declares a subscriber; `on_drop(ctx)` runs once when Zenoh releases the callback.
int8_t nz_declare_subscriber(struct NzSubscriber **out,
                             const struct NzSession *session,
                             const struct NzKeyExpr *ke,
                             NzSampleFn on_sample,
                             NzDropFn on_drop,
                             void *ctx);

// Undeclares the subscriber; on return no callback of it runs or will run.
int8_t nz_undeclare_subscriber(struct NzSubscriber *sub);

#ifdef __cplusplus
}  // extern "C"
#endif  // __cplusplus

#endif  /* NORVIK_ZENOH_H */
