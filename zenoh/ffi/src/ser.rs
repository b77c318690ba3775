//! The zenoh-ext serializer: one call per primitive or per run of primitives.

use crate::bytes::NzBytes;
use crate::error::*;
use zenoh_ext::{Serialize, VarInt, ZSerializer};

pub struct NzSerializer(ZSerializer);

/// Starts an empty serializer.
#[no_mangle]
pub unsafe extern "C" fn nz_serializer_new(out: *mut *mut NzSerializer) -> i8 {
    guard(|| unsafe { emit(out, NzSerializer(ZSerializer::new())) })
}

/// Finishes the serializer into a payload; consumes the serializer.
#[no_mangle]
pub unsafe extern "C" fn nz_serializer_finish(ser: *mut NzSerializer, out: *mut *mut NzBytes) -> i8 {
    if ser.is_null() {
        return Z_ENULL;
    }
    let ser = Box::from_raw(ser);
    guard(move || unsafe { emit(out, NzBytes(ser.0.finish())) })
}

/// Releases an unfinished serializer.
#[no_mangle]
pub unsafe extern "C" fn nz_serializer_drop(ser: *mut NzSerializer) {
    if !ser.is_null() {
        drop(Box::from_raw(ser));
    }
}

fn write<T: Serialize>(ser: *mut NzSerializer, value: T) -> i8 {
    if ser.is_null() {
        return Z_ENULL;
    }
    let ser = unsafe { &mut *ser };
    guard(|| {
        ser.0.serialize(value);
        Z_OK
    })
}

fn write_n<T: Serialize + Copy>(ser: *mut NzSerializer, data: *const T, n: usize) -> i8 {
    if ser.is_null() || (data.is_null() && n > 0) {
        return Z_ENULL;
    }
    let ser = unsafe { &mut *ser };
    let slice: &[T] = if n == 0 { &[] } else { unsafe { std::slice::from_raw_parts(data, n) } };
    guard(|| {
        T::serialize_n(slice, &mut ser.0);
        Z_OK
    })
}

macro_rules! ser_prim {
    ($one:ident, $many:ident, $ty:ty) => {
        /// Writes one value.
        #[no_mangle]
        pub unsafe extern "C" fn $one(ser: *mut NzSerializer, value: $ty) -> i8 {
            write(ser, value)
        }
        /// Writes `n` values, without a length prefix.
        #[no_mangle]
        pub unsafe extern "C" fn $many(ser: *mut NzSerializer, data: *const $ty, n: usize) -> i8 {
            write_n(ser, data, n)
        }
    };
}

ser_prim!(nz_ser_u8, nz_ser_u8_n, u8);
ser_prim!(nz_ser_u16, nz_ser_u16_n, u16);
ser_prim!(nz_ser_i16, nz_ser_i16_n, i16);
ser_prim!(nz_ser_u32, nz_ser_u32_n, u32);
ser_prim!(nz_ser_i32, nz_ser_i32_n, i32);
ser_prim!(nz_ser_f32, nz_ser_f32_n, f32);
ser_prim!(nz_ser_f64, nz_ser_f64_n, f64);

/// Writes one bool (one byte).
#[no_mangle]
pub unsafe extern "C" fn nz_ser_bool(ser: *mut NzSerializer, value: bool) -> i8 {
    write(ser, value)
}

/// Writes `n` bools, without a length prefix.
#[no_mangle]
pub unsafe extern "C" fn nz_ser_bool_n(ser: *mut NzSerializer, data: *const bool, n: usize) -> i8 {
    write_n(ser, data, n)
}

/// Writes a sequence-length prefix.
#[no_mangle]
pub unsafe extern "C" fn nz_ser_seq_len(ser: *mut NzSerializer, len: usize) -> i8 {
    write(ser, VarInt(len))
}

/// Writes a string of `len` bytes, which must be UTF-8.
#[no_mangle]
pub unsafe extern "C" fn nz_ser_string(ser: *mut NzSerializer, data: *const u8, len: usize) -> i8 {
    if data.is_null() && len > 0 {
        return Z_ENULL;
    }
    let bytes: &[u8] = if len == 0 { &[] } else { std::slice::from_raw_parts(data, len) };
    match std::str::from_utf8(bytes) {
        Ok(s) => write(ser, s),
        Err(_) => Z_EUTF8,
    }
}
