//! Result codes shared with the C side (same values as Zenoh's C library).

use std::panic::{catch_unwind, AssertUnwindSafe};

pub const NZ_OK: i8 = 0;
pub const NZ_EINVAL: i8 = -1;
pub const NZ_EIO: i8 = -3;
pub const NZ_ENULL: i8 = -5;
/// The C++ reader's code for bytes that do not read, as zenoh-ext's.
#[allow(dead_code)]
pub const NZ_EDESERIALIZE: i8 = -7;
pub const NZ_EUTF8: i8 = -9;
pub const NZ_EGENERIC: i8 = -128;

/// Runs `f`, turning a panic into `NZ_EGENERIC` so that no unwind reaches C.
/// Nothing is observed after a panic but the returned code, so unwind safety
/// holds for every closure.
pub fn guard<F: FnOnce() -> i8>(f: F) -> i8 {
    catch_unwind(AssertUnwindSafe(f)).unwrap_or(NZ_EGENERIC)
}

/// Takes ownership of a handle the call consumes (None when null), so that it
/// is released on every path, the failing ones too.
///
/// # Safety
/// `p` must be null or a handle from this library not yet released.
pub unsafe fn consume<T>(p: *mut T) -> Option<Box<T>> {
    if p.is_null() {
        None
    } else {
        Some(Box::from_raw(p))
    }
}

/// `len` bytes at `data`, which may be null only when `len` is 0.
///
/// # Safety
/// When not null, `data` must be valid for `len` reads.
pub unsafe fn slice_arg<'a, T>(data: *const T, len: usize) -> Result<&'a [T], i8> {
    match (data.is_null(), len) {
        (_, 0) => Ok(&[]),
        (true, _) => Err(NZ_ENULL),
        (false, _) => Ok(std::slice::from_raw_parts(data, len)),
    }
}

/// Moves `value` into a new heap handle written to `out`.
///
/// # Safety
/// `out` must be valid for writes.
pub unsafe fn emit<T>(out: *mut *mut T, value: T) -> i8 {
    if out.is_null() {
        return NZ_ENULL;
    }
    *out = Box::into_raw(Box::new(value));
    NZ_OK
}

thread_local! {
    static LAST_ERROR: std::cell::RefCell<std::ffi::CString> = std::cell::RefCell::new(std::ffi::CString::default());
}

/// Keeps `reason` as this thread's last error text (see `nz_last_error`).
pub fn set_last_error(reason: impl std::fmt::Display) {
    // An interior NUL would cut the text; show it instead.
    let text = without_location(&reason.to_string()).replace('\0', "\\0");
    let text = std::ffi::CString::new(text).unwrap_or_default();
    LAST_ERROR.with(|e| *e.borrow_mut() = text);
}

/// Zenoh's reason for the last failure on this thread of a call that documents
/// one (configuration, open); valid until that thread's next such failure.
#[no_mangle]
pub extern "C" fn nz_last_error() -> *const std::os::raw::c_char {
    LAST_ERROR.with(|e| e.borrow().as_ptr())
}

/// Zenoh's errors end with where in Zenoh's sources they were made
/// (" at /path/to/file.rs:123."), which tells a user nothing.
fn without_location(text: &str) -> &str {
    if let Some(at) = text.rfind(" at ") {
        let place = &text[at + 4..];
        if let Some((file, line)) = place.trim_end_matches('.').rsplit_once(':') {
            if file.ends_with(".rs") && !line.is_empty() && line.bytes().all(|b| b.is_ascii_digit())
            {
                return &text[..at];
            }
        }
    }
    text
}
