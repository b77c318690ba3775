//! Minimal C ABI over `zenoh` and `zenoh-ext` for the Norvik TARN client.
//!
//! Every handle is an opaque heap object owned by the caller and released by
//! the matching `*_drop`, `*_close` or `*_undeclare` function. Every fallible
//! function returns a signed 8-bit result code (0 on success, see `error.rs`)
//! and never lets a Rust panic cross into C.
//!
//! Null pointers, one rule for every call: a fallible call given a null
//! handle, out pointer, callback or options returns `NZ_ENULL`, and still
//! releases what it consumes (payloads, configurations, serializers); a data
//! pointer may be null only with a length of 0; the drop calls take null and
//! do nothing; a view of a null handle is empty (length 0, null pointer).
//! The C header `include/norvik_zenoh.h` is generated from this crate by the
//! build (cbindgen), so it cannot drift from it.

mod bytes;
mod callback;
mod error;
mod keyexpr;
mod publisher;
mod query;
mod queryable;
mod ser;
mod session;
mod subscriber;

pub use bytes::*;
pub use keyexpr::*;
pub use publisher::*;
pub use query::*;
pub use queryable::*;
pub use ser::*;
pub use session::*;
pub use subscriber::*;
