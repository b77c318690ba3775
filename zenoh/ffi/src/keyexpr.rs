//! Key expressions.

use crate::error::*;
use std::os::raw::c_char;
use zenoh::key_expr::KeyExpr;

pub struct NzKeyExpr(pub(crate) KeyExpr<'static>);

/// Builds a key expression from `len` bytes of text, canonising it first.
#[no_mangle]
pub unsafe extern "C" fn nz_keyexpr_autocanonize(
    out: *mut *mut NzKeyExpr,
    text: *const c_char,
    len: usize,
) -> i8 {
    let bytes = match slice_arg(text as *const u8, len) {
        Ok(bytes) => bytes,
        Err(code) => return code,
    };
    if out.is_null() {
        return NZ_ENULL;
    }
    let Ok(text) = std::str::from_utf8(bytes) else {
        return NZ_EUTF8;
    };
    let owned = text.to_owned();
    guard(move || match KeyExpr::autocanonize(owned) {
        Ok(ke) => unsafe { emit(out, NzKeyExpr(ke)) },
        Err(_) => NZ_EINVAL,
    })
}

/// Builds a key expression from `len` bytes of text that must already be
/// canonical; NZ_EINVAL otherwise.
#[no_mangle]
pub unsafe extern "C" fn nz_keyexpr_from_str(
    out: *mut *mut NzKeyExpr,
    text: *const c_char,
    len: usize,
) -> i8 {
    let bytes = match slice_arg(text as *const u8, len) {
        Ok(bytes) => bytes,
        Err(code) => return code,
    };
    if out.is_null() {
        return NZ_ENULL;
    }
    let Ok(text) = std::str::from_utf8(bytes) else {
        return NZ_EUTF8;
    };
    let owned = text.to_owned();
    guard(move || match KeyExpr::try_from(owned) {
        Ok(ke) => unsafe { emit(out, NzKeyExpr(ke)) },
        Err(_) => NZ_EINVAL,
    })
}

/// Gives a view of the key expression's text, valid while the handle lives.
#[no_mangle]
pub unsafe extern "C" fn nz_keyexpr_as_str(ke: *const NzKeyExpr, len: *mut usize) -> *const c_char {
    let (text, n) = if ke.is_null() {
        (std::ptr::null(), 0)
    } else {
        (
            (*ke).0.as_str().as_ptr() as *const c_char,
            (*ke).0.as_str().len(),
        )
    };
    if !len.is_null() {
        *len = n;
    }
    text
}

/// Releases a key expression.
#[no_mangle]
pub unsafe extern "C" fn nz_keyexpr_drop(ke: *mut NzKeyExpr) {
    if !ke.is_null() {
        drop(Box::from_raw(ke));
    }
}
