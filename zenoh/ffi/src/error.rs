//! Result codes shared with the C side (same values as Zenoh's C library).

use std::panic::{catch_unwind, AssertUnwindSafe};

pub const Z_OK: i8 = 0;
pub const Z_EINVAL: i8 = -1;
pub const Z_EIO: i8 = -3;
pub const Z_ENULL: i8 = -5;
pub const Z_EDESERIALIZE: i8 = -7;
pub const Z_EUTF8: i8 = -9;
pub const Z_EGENERIC: i8 = i8::MIN;

/// Runs `f`, turning a panic into `Z_EGENERIC` so that no unwind reaches C.
/// Nothing is observed after a panic but the returned code, so unwind safety
/// holds for every closure.
pub fn guard<F: FnOnce() -> i8>(f: F) -> i8 {
    catch_unwind(AssertUnwindSafe(f)).unwrap_or(Z_EGENERIC)
}

/// Moves `value` into a new heap handle written to `out`.
///
/// # Safety
/// `out` must be valid for writes.
pub unsafe fn emit<T>(out: *mut *mut T, value: T) -> i8 {
    if out.is_null() {
        return Z_ENULL;
    }
    *out = Box::into_raw(Box::new(value));
    Z_OK
}
