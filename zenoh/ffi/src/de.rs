//! The zenoh-ext deserializer: one call per primitive or per run of primitives.
//!
//! Lengths read from the payload are never trusted for allocation here: the
//! C side bounds them by the payload size before it reserves, and strings are
//! bounded the same way before their bytes are read.

use crate::bytes::NzBytes;
use crate::error::*;
use zenoh_ext::{Deserialize, VarInt, ZDeserializer};

pub struct NzDeserializer {
    de: ZDeserializer<'static>,
    total: usize,
    scratch: Vec<u8>,
}

/// Starts a deserializer over `bytes`, which must outlive it.
#[no_mangle]
pub unsafe extern "C" fn nz_deserializer_new(out: *mut *mut NzDeserializer, bytes: *const NzBytes) -> i8 {
    if bytes.is_null() {
        return Z_ENULL;
    }
    // The caller keeps `bytes` alive for the deserializer's whole life.
    let bytes: &'static NzBytes = &*bytes;
    guard(move || unsafe {
        emit(
            out,
            NzDeserializer { de: ZDeserializer::new(&bytes.0), total: bytes.0.len(), scratch: Vec::new() },
        )
    })
}

/// Releases a deserializer.
#[no_mangle]
pub unsafe extern "C" fn nz_deserializer_drop(de: *mut NzDeserializer) {
    if !de.is_null() {
        drop(Box::from_raw(de));
    }
}

/// True when every byte of the payload has been read.
#[no_mangle]
pub unsafe extern "C" fn nz_de_done(de: *const NzDeserializer) -> bool {
    (*de).de.done()
}

fn read<T: Deserialize>(de: *mut NzDeserializer, out: *mut T) -> i8 {
    if de.is_null() || out.is_null() {
        return Z_ENULL;
    }
    let de = unsafe { &mut *de };
    guard(|| match de.de.deserialize::<T>() {
        Ok(v) => {
            unsafe { out.write(v) };
            Z_OK
        }
        Err(_) => Z_EDESERIALIZE,
    })
}

fn read_n<T: Deserialize>(de: *mut NzDeserializer, out: *mut T, n: usize) -> i8 {
    if n == 0 {
        return Z_OK;
    }
    if de.is_null() || out.is_null() {
        return Z_ENULL;
    }
    let de = unsafe { &mut *de };
    let slice = unsafe { std::slice::from_raw_parts_mut(out, n) };
    guard(|| match T::deserialize_n(slice, &mut de.de) {
        Ok(()) => Z_OK,
        Err(_) => Z_EDESERIALIZE,
    })
}

macro_rules! de_prim {
    ($one:ident, $many:ident, $ty:ty) => {
        /// Reads one value.
        #[no_mangle]
        pub unsafe extern "C" fn $one(de: *mut NzDeserializer, out: *mut $ty) -> i8 {
            read(de, out)
        }
        /// Reads `n` values (no length prefix) into `out`.
        #[no_mangle]
        pub unsafe extern "C" fn $many(de: *mut NzDeserializer, out: *mut $ty, n: usize) -> i8 {
            read_n(de, out, n)
        }
    };
}

de_prim!(nz_de_u8, nz_de_u8_n, u8);
de_prim!(nz_de_u16, nz_de_u16_n, u16);
de_prim!(nz_de_i16, nz_de_i16_n, i16);
de_prim!(nz_de_u32, nz_de_u32_n, u32);
de_prim!(nz_de_i32, nz_de_i32_n, i32);
de_prim!(nz_de_f32, nz_de_f32_n, f32);
de_prim!(nz_de_f64, nz_de_f64_n, f64);

/// Reads one bool (a byte that must be 0 or 1).
#[no_mangle]
pub unsafe extern "C" fn nz_de_bool(de: *mut NzDeserializer, out: *mut bool) -> i8 {
    read(de, out)
}

/// Reads `n` bools (no length prefix) into `out`.
#[no_mangle]
pub unsafe extern "C" fn nz_de_bool_n(de: *mut NzDeserializer, out: *mut bool, n: usize) -> i8 {
    // bool has no bulk form in zenoh-ext: each byte is checked on its own.
    for i in 0..n {
        let rc = read(de, out.wrapping_add(i));
        if rc != Z_OK {
            return rc;
        }
    }
    Z_OK
}

/// Reads a sequence-length prefix.
#[no_mangle]
pub unsafe extern "C" fn nz_de_seq_len(de: *mut NzDeserializer, out: *mut usize) -> i8 {
    let mut v = VarInt(0usize);
    let rc = read(de, &mut v);
    if rc == Z_OK {
        *out = v.0;
    }
    rc
}

/// Reads a UTF-8 string; the view stays valid until the next call on `de`.
#[no_mangle]
pub unsafe extern "C" fn nz_de_string(de: *mut NzDeserializer, data: *mut *const u8, len: *mut usize) -> i8 {
    if de.is_null() || data.is_null() || len.is_null() {
        return Z_ENULL;
    }
    let mut n = 0usize;
    let rc = nz_de_seq_len(de, &mut n);
    if rc != Z_OK {
        return rc;
    }
    let d = &mut *de;
    if n > d.total {
        return Z_EDESERIALIZE;
    }
    d.scratch.clear();
    d.scratch.resize(n, 0);
    let rc = read_n(de, d.scratch.as_mut_ptr(), n);
    if rc != Z_OK {
        return rc;
    }
    if std::str::from_utf8(&d.scratch).is_err() {
        return Z_EDESERIALIZE;
    }
    *data = d.scratch.as_ptr();
    *len = n;
    Z_OK
}
