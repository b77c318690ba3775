//! Payload bytes.

use crate::error::*;
use zenoh::bytes::ZBytes;

/// Opaque to C (declared in cbindgen.toml): its layout is ZBytes's.
/// cbindgen:ignore
#[repr(transparent)]
pub struct NzBytes(pub(crate) ZBytes);

/// Makes an owned payload from a copy of `len` bytes.
#[no_mangle]
pub unsafe extern "C" fn nz_bytes_copy_from(
    out: *mut *mut NzBytes,
    data: *const u8,
    len: usize,
) -> i8 {
    let data = match slice_arg(data, len) {
        Ok(data) => data,
        Err(code) => return code,
    };
    if out.is_null() {
        return NZ_ENULL;
    }
    guard(move || unsafe { emit(out, NzBytes(ZBytes::from(data.to_vec()))) })
}

/// Number of bytes in the payload.
#[no_mangle]
pub unsafe extern "C" fn nz_bytes_len(bytes: *const NzBytes) -> usize {
    if bytes.is_null() {
        return 0;
    }
    (*bytes).0.len()
}

/// Copies up to `cap` bytes of the payload to `out`; returns how many were copied.
#[no_mangle]
pub unsafe extern "C" fn nz_bytes_copy_to(
    bytes: *const NzBytes,
    out: *mut u8,
    cap: usize,
) -> usize {
    if bytes.is_null() || out.is_null() || cap == 0 {
        return 0;
    }
    let mut n = 0;
    for slice in (*bytes).0.slices() {
        let take = slice.len().min(cap - n);
        std::ptr::copy_nonoverlapping(slice.as_ptr(), out.add(n), take);
        n += take;
        if n == cap {
            break;
        }
    }
    n
}

/// Points `data`/`len` at the payload's bytes when they lie in one slice
/// (valid while the payload lives); false when they are split or an argument is null.
#[no_mangle]
pub unsafe extern "C" fn nz_bytes_contiguous(
    bytes: *const NzBytes,
    data: *mut *const u8,
    len: *mut usize,
) -> bool {
    if bytes.is_null() || data.is_null() || len.is_null() {
        return false;
    }
    let mut slices = (*bytes).0.slices();
    match (slices.next(), slices.next()) {
        (None, _) => {
            *data = std::ptr::null();
            *len = 0;
            true
        }
        (Some(one), None) => {
            *data = one.as_ptr();
            *len = one.len();
            true
        }
        _ => false,
    }
}

/// Releases a payload.
#[no_mangle]
pub unsafe extern "C" fn nz_bytes_drop(bytes: *mut NzBytes) {
    if !bytes.is_null() {
        drop(Box::from_raw(bytes));
    }
}

/// Reinterprets a borrowed `ZBytes` as the C view type.
pub fn view(bytes: &ZBytes) -> *const NzBytes {
    // NzBytes is a single-field wrapper with the same layout as ZBytes.
    bytes as *const ZBytes as *const NzBytes
}
