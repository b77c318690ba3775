/* C ABI of the norvik_zenoh library: the least of Zenoh and zenoh-ext that the
 * Norvik TARN client, its simulated peers and its benchmarks need.
 *
 * Handles are opaque and owned by the caller. Fallible calls return a signed
 * 8-bit result code: 0 on success, negative on failure (values below). */
#ifndef NORVIK_ZENOH_H
#define NORVIK_ZENOH_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define NZ_OK 0
#define NZ_EINVAL (-1)
#define NZ_EIO (-3)
#define NZ_ENULL (-5)
#define NZ_EDESERIALIZE (-7)
#define NZ_EUTF8 (-9)
#define NZ_EGENERIC (-128)

/* Zenoh priorities (1 is the highest); "data" is the default. */
#define NZ_PRIORITY_DATA 5

typedef struct NzConfig NzConfig;
typedef struct NzSession NzSession;
typedef struct NzKeyExpr NzKeyExpr;
typedef struct NzBytes NzBytes;
typedef struct NzSerializer NzSerializer;
typedef struct NzSubscriber NzSubscriber;
typedef struct NzQueryable NzQueryable;
typedef struct NzQuery NzQuery;
typedef struct NzPublisher NzPublisher;

typedef void (*NzDropFn)(void* ctx);
typedef void (*NzSampleFn)(void* ctx, const NzBytes* payload);
typedef void (*NzReplyFn)(void* ctx, bool ok, const NzBytes* payload, const char* key, size_t key_len);
typedef void (*NzQueryFn)(void* ctx, const NzQuery* query);

/* Errors */
const char* nz_last_error(void); /* Zenoh's reason for this thread's last failed config or open call. */

/* Session */
int8_t nz_config_default(NzConfig** out);                  /* Zenoh's default configuration. */
int8_t nz_config_from_file(NzConfig** out, const char* path); /* Reads a JSON5/JSON/YAML file. */
int8_t nz_config_from_json5(NzConfig** out, const char* text); /* Parses JSON5 text. */
int8_t nz_config_insert_json5(NzConfig* config, const char* key, const char* value); /* Sets key to a JSON5 value. */
intptr_t nz_config_get_json(const NzConfig* config, const char* key, char* out, size_t cap); /* Value as JSON; full length. */
void nz_config_drop(NzConfig* config);                      /* Releases an unused configuration. */
int8_t nz_open(NzSession** out, NzConfig* config);          /* Opens a session; consumes config. */
int8_t nz_close(NzSession* session);                        /* Closes and releases a session. */

/* Key expressions */
int8_t nz_keyexpr_autocanonize(NzKeyExpr** out, const char* text, size_t len); /* Canonised key. */
int8_t nz_keyexpr_from_str(NzKeyExpr** out, const char* text, size_t len); /* Already canonical, else NZ_EINVAL. */
const char* nz_keyexpr_as_str(const NzKeyExpr* ke, size_t* len); /* View of the key's text. */
void nz_keyexpr_drop(NzKeyExpr* ke);                        /* Releases a key expression. */

/* Payload bytes */
int8_t nz_bytes_copy_from(NzBytes** out, const uint8_t* data, size_t len); /* Owned copy. */
size_t nz_bytes_len(const NzBytes* bytes);                  /* Payload size in bytes. */
size_t nz_bytes_copy_to(const NzBytes* bytes, uint8_t* out, size_t cap); /* Copies out, returns count. */
bool nz_bytes_contiguous(const NzBytes* bytes, const uint8_t** data, size_t* len); /* One-slice view, else false. */
void nz_bytes_drop(NzBytes* bytes);                         /* Releases a payload. */

/* zenoh-ext serializer; the *_n forms write n values without a length prefix. */
int8_t nz_serializer_new(NzSerializer** out);               /* Empty serializer. */
int8_t nz_serializer_finish(NzSerializer* ser, NzBytes** out); /* Payload; consumes ser. */
void nz_serializer_drop(NzSerializer* ser);                 /* Releases an unfinished serializer. */
int8_t nz_ser_u8(NzSerializer* ser, uint8_t value);         /* One u8. */
int8_t nz_ser_u16(NzSerializer* ser, uint16_t value);       /* One u16. */
int8_t nz_ser_i16(NzSerializer* ser, int16_t value);        /* One i16. */
int8_t nz_ser_u32(NzSerializer* ser, uint32_t value);       /* One u32. */
int8_t nz_ser_i32(NzSerializer* ser, int32_t value);        /* One i32. */
int8_t nz_ser_f32(NzSerializer* ser, float value);          /* One f32. */
int8_t nz_ser_f64(NzSerializer* ser, double value);         /* One f64. */
int8_t nz_ser_bool(NzSerializer* ser, bool value);          /* One bool. */
int8_t nz_ser_u8_n(NzSerializer* ser, const uint8_t* data, size_t n);   /* n u8. */
int8_t nz_ser_u16_n(NzSerializer* ser, const uint16_t* data, size_t n); /* n u16. */
int8_t nz_ser_i16_n(NzSerializer* ser, const int16_t* data, size_t n);  /* n i16. */
int8_t nz_ser_u32_n(NzSerializer* ser, const uint32_t* data, size_t n); /* n u32. */
int8_t nz_ser_i32_n(NzSerializer* ser, const int32_t* data, size_t n);  /* n i32. */
int8_t nz_ser_f32_n(NzSerializer* ser, const float* data, size_t n);    /* n f32. */
int8_t nz_ser_f64_n(NzSerializer* ser, const double* data, size_t n);   /* n f64. */
int8_t nz_ser_bool_n(NzSerializer* ser, const bool* data, size_t n);    /* n bool. */
int8_t nz_ser_seq_len(NzSerializer* ser, size_t len);       /* A sequence-length prefix. */
int8_t nz_ser_string(NzSerializer* ser, const uint8_t* data, size_t len); /* A UTF-8 string. */

/* Subscribers: on_drop(ctx) runs once when Zenoh releases the callback. */
int8_t nz_declare_subscriber(NzSubscriber** out, const NzSession* session, const NzKeyExpr* ke,
                             NzSampleFn on_sample, NzDropFn on_drop, void* ctx); /* Declares. */
int8_t nz_undeclare_subscriber(NzSubscriber* sub); /* Undeclares; no callback runs after it returns. */

/* Get: the payload (may be null) is consumed; on_drop(ctx) runs once when the query ends;
 * on_reply gets the replying key (empty for an error reply). */
typedef struct NzGetOptions {
  NzBytes* payload;
  bool zenoh_serialized;
  uint64_t timeout_ms;
  uint8_t priority;
  bool congestion_block;
  bool all_replies; /* every matching queryable, every reply as it comes */
  const char* parameters; /* the selector's parameters, parameters_len bytes of UTF-8 */
  size_t parameters_len;
} NzGetOptions;
int8_t nz_get(const NzSession* session, const NzKeyExpr* ke, const NzGetOptions* options,
              NzReplyFn on_reply, NzDropFn on_drop, void* ctx); /* Issues a get. */

/* Server side: queryables, replies, publishers. */
int8_t nz_declare_queryable(NzQueryable** out, const NzSession* session, const NzKeyExpr* ke,
                            NzQueryFn on_query, NzDropFn on_drop, void* ctx); /* Declares. */
int8_t nz_undeclare_queryable(NzQueryable* q); /* Undeclares; no callback runs after it returns. */
const NzBytes* nz_query_payload(const NzQuery* q);          /* Query payload or null. */
const char* nz_query_parameters(const NzQuery* q, size_t* len); /* Selector parameters (may be empty). */
int8_t nz_query_clone(NzQuery** out, const NzQuery* q);     /* Keeps a query to answer later. */
void nz_query_drop(NzQuery* q);                             /* Releases a kept query. */
int8_t nz_query_reply(const NzQuery* q, NzBytes* payload, bool zenoh_serialized); /* Good reply. */
int8_t nz_query_reply_err(const NzQuery* q, NzBytes* payload); /* Error reply. */
int8_t nz_declare_publisher(NzPublisher** out, const NzSession* session, const NzKeyExpr* ke); /* Declares. */
int8_t nz_publisher_put(const NzPublisher* publisher, NzBytes* payload); /* Puts; consumes payload. */
int8_t nz_undeclare_publisher(NzPublisher* publisher);      /* Undeclares and releases. */

#ifdef __cplusplus
}
#endif

#endif /* NORVIK_ZENOH_H */
