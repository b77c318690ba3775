//! The zenoh-ext serializer: one call per primitive or per run of primitives.

use crate::bytes::NzBytes;
use crate::error::*;
use zenoh_ext::{Serialize, VarInt, ZSerializer};

pub struct NzSerializer(ZSerializer);

/// Starts an empty serializer.
#[no_mangle]
pub unsafe extern "C" fn nz_serializer_new(out: *mut *mut NzSerializer) -> i8 {
    if out.is_null() {
        return NZ_ENULL;
    }
    guard(|| unsafe { emit(out, NzSerializer(ZSerializer::new())) })
}

/// Finishes the serializer into a payload; consumes the serializer.
#[no_mangle]
pub unsafe extern "C" fn nz_serializer_finish(
    ser: *mut NzSerializer,
    out: *mut *mut NzBytes,
) -> i8 {
    let Some(ser) = consume(ser) else {
        return NZ_ENULL;
    };
    if out.is_null() {
        return NZ_ENULL;
    }
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
        return NZ_ENULL;
    }
    let ser = unsafe { &mut *ser };
    guard(|| {
        ser.0.serialize(value);
        NZ_OK
    })
}

fn write_n<T: Serialize + Copy>(ser: *mut NzSerializer, data: *const T, n: usize) -> i8 {
    let slice = match unsafe { slice_arg(data, n) } {
        Ok(slice) => slice,
        Err(code) => return code,
    };
    if ser.is_null() {
        return NZ_ENULL;
    }
    let ser = unsafe { &mut *ser };
    guard(|| {
        T::serialize_n(slice, &mut ser.0);
        NZ_OK
    })
}

// Written out rather than made by a macro: the C header is generated from these.
/// Writes one u8.
#[no_mangle]
pub unsafe extern "C" fn nz_ser_u8(ser: *mut NzSerializer, value: u8) -> i8 {
    write(ser, value)
}

/// Writes `n` u8 values, without a length prefix.
#[no_mangle]
pub unsafe extern "C" fn nz_ser_u8_n(ser: *mut NzSerializer, data: *const u8, n: usize) -> i8 {
    write_n(ser, data, n)
}

/// Writes one u16.
#[no_mangle]
pub unsafe extern "C" fn nz_ser_u16(ser: *mut NzSerializer, value: u16) -> i8 {
    write(ser, value)
}

/// Writes `n` u16 values, without a length prefix.
#[no_mangle]
pub unsafe extern "C" fn nz_ser_u16_n(ser: *mut NzSerializer, data: *const u16, n: usize) -> i8 {
    write_n(ser, data, n)
}

/// Writes one i16.
#[no_mangle]
pub unsafe extern "C" fn nz_ser_i16(ser: *mut NzSerializer, value: i16) -> i8 {
    write(ser, value)
}

/// Writes `n` i16 values, without a length prefix.
#[no_mangle]
pub unsafe extern "C" fn nz_ser_i16_n(ser: *mut NzSerializer, data: *const i16, n: usize) -> i8 {
    write_n(ser, data, n)
}

/// Writes one u32.
#[no_mangle]
pub unsafe extern "C" fn nz_ser_u32(ser: *mut NzSerializer, value: u32) -> i8 {
    write(ser, value)
}

/// Writes `n` u32 values, without a length prefix.
#[no_mangle]
pub unsafe extern "C" fn nz_ser_u32_n(ser: *mut NzSerializer, data: *const u32, n: usize) -> i8 {
    write_n(ser, data, n)
}

/// Writes one i32.
#[no_mangle]
pub unsafe extern "C" fn nz_ser_i32(ser: *mut NzSerializer, value: i32) -> i8 {
    write(ser, value)
}

/// Writes `n` i32 values, without a length prefix.
#[no_mangle]
pub unsafe extern "C" fn nz_ser_i32_n(ser: *mut NzSerializer, data: *const i32, n: usize) -> i8 {
    write_n(ser, data, n)
}

/// Writes one f32.
#[no_mangle]
pub unsafe extern "C" fn nz_ser_f32(ser: *mut NzSerializer, value: f32) -> i8 {
    write(ser, value)
}

/// Writes `n` f32 values, without a length prefix.
#[no_mangle]
pub unsafe extern "C" fn nz_ser_f32_n(ser: *mut NzSerializer, data: *const f32, n: usize) -> i8 {
    write_n(ser, data, n)
}

/// Writes one f64.
#[no_mangle]
pub unsafe extern "C" fn nz_ser_f64(ser: *mut NzSerializer, value: f64) -> i8 {
    write(ser, value)
}

/// Writes `n` f64 values, without a length prefix.
#[no_mangle]
pub unsafe extern "C" fn nz_ser_f64_n(ser: *mut NzSerializer, data: *const f64, n: usize) -> i8 {
    write_n(ser, data, n)
}

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
    let bytes = match slice_arg(data, len) {
        Ok(bytes) => bytes,
        Err(code) => return code,
    };
    match std::str::from_utf8(bytes) {
        Ok(s) => write(ser, s),
        Err(_) => NZ_EUTF8,
    }
}
