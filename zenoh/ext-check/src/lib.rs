//! zenoh-ext's own reader behind a small C ABI, for the tests and fuzzers
//! that check the client's reader against it. Not part of the library.
//!
//! The reader lives on the stack of `ext_check_read_payload` and is handed to
//! the caller's function for the length of that call only, so it never
//! outlives the bytes it borrows and no handle to it is ever owned.

use std::ffi::c_void;
use zenoh::bytes::ZBytes;
use zenoh_ext::{Deserialize, VarInt, ZDeserializer};

const OK: i8 = 0;
const EDESERIALIZE: i8 = -7;
const ENULL: i8 = -5;
const EINVAL: i8 = -1;

pub struct ExtCheckReader<'a> {
    de: ZDeserializer<'a>,
    total: usize,
    text: Vec<u8>,
}

pub type ExtCheckReadFn = for<'a> unsafe extern "C" fn(ctx: *mut c_void, reader: *mut ExtCheckReader<'a>);

/// Runs `read(ctx, reader)` with zenoh-ext's reader over a copy of `len` bytes
/// at `data`. `read` must not unwind.
#[no_mangle]
pub unsafe extern "C" fn ext_check_read_payload(data: *const u8, len: usize, read: ExtCheckReadFn, ctx: *mut c_void) {
    let bytes = if len == 0 { Vec::new() } else { std::slice::from_raw_parts(data, len).to_vec() };
    let payload = ZBytes::from(bytes);
    let mut reader = ExtCheckReader { de: ZDeserializer::new(&payload), total: len, text: Vec::new() };
    read(ctx, &mut reader);
}

/// True when every byte has been read.
#[no_mangle]
pub unsafe extern "C" fn ext_check_done(reader: *const ExtCheckReader<'_>) -> bool {
    (*reader).de.done()
}

fn one<T: Deserialize>(r: &mut ExtCheckReader<'_>, out: *mut c_void) -> i8 {
    match r.de.deserialize::<T>() {
        Ok(v) => {
            unsafe { out.cast::<T>().write(v) };
            OK
        }
        Err(_) => EDESERIALIZE,
    }
}

fn run<T: Deserialize>(r: &mut ExtCheckReader<'_>, out: *mut c_void, n: usize) -> i8 {
    if n == 0 {
        return OK;
    }
    // zenoh-ext writes what it read before a failure into the run, as it would into a Rust slice
    let run = unsafe { std::slice::from_raw_parts_mut(out.cast::<T>(), n) };
    match T::deserialize_n(run, &mut r.de) {
        Ok(()) => OK,
        Err(_) => EDESERIALIZE,
    }
}

/// Reads one value of `kind` (see the header) into `out`.
#[no_mangle]
pub unsafe extern "C" fn ext_check_value(reader: *mut ExtCheckReader<'_>, kind: u8, out: *mut c_void) -> i8 {
    if reader.is_null() || out.is_null() {
        return ENULL;
    }
    let r = &mut *reader;
    match kind {
        0 => one::<u8>(r, out),
        1 => one::<u16>(r, out),
        2 => one::<i16>(r, out),
        3 => one::<u32>(r, out),
        4 => one::<i32>(r, out),
        5 => one::<f32>(r, out),
        6 => one::<f64>(r, out),
        7 => one::<bool>(r, out),
        _ => EINVAL,
    }
}

/// Reads `n` values of `kind` (no length prefix) into `out`.
#[no_mangle]
pub unsafe extern "C" fn ext_check_values(reader: *mut ExtCheckReader<'_>, kind: u8, out: *mut c_void, n: usize) -> i8 {
    if reader.is_null() || (out.is_null() && n > 0) {
        return ENULL;
    }
    let r = &mut *reader;
    match kind {
        0 => run::<u8>(r, out, n),
        1 => run::<u16>(r, out, n),
        2 => run::<i16>(r, out, n),
        3 => run::<u32>(r, out, n),
        4 => run::<i32>(r, out, n),
        5 => run::<f32>(r, out, n),
        6 => run::<f64>(r, out, n),
        7 => run::<bool>(r, out, n),
        _ => EINVAL,
    }
}

/// Reads a sequence-length prefix.
#[no_mangle]
pub unsafe extern "C" fn ext_check_sequence_length(reader: *mut ExtCheckReader<'_>, out: *mut usize) -> i8 {
    if reader.is_null() || out.is_null() {
        return ENULL;
    }
    match (*reader).de.deserialize::<VarInt<usize>>() {
        Ok(VarInt(n)) => {
            *out = n;
            OK
        }
        Err(_) => EDESERIALIZE,
    }
}

/// Reads a UTF-8 string as zenoh-ext's `String` does; the view is valid until
/// the next call on `reader`.
#[no_mangle]
pub unsafe extern "C" fn ext_check_string(reader: *mut ExtCheckReader<'_>, data: *mut *const u8, len: *mut usize) -> i8 {
    if reader.is_null() || data.is_null() || len.is_null() {
        return ENULL;
    }
    let r = &mut *reader;
    let n = match r.de.deserialize::<VarInt<usize>>() {
        Ok(VarInt(n)) => n,
        Err(_) => return EDESERIALIZE,
    };
    // zenoh-ext would reserve `n` bytes first; a length beyond the payload
    // fails there anyway, so it fails here before reserving.
    if n > r.total {
        return EDESERIALIZE;
    }
    r.text.clear();
    r.text.resize(n, 0);
    if u8::deserialize_n(&mut r.text, &mut r.de).is_err() || std::str::from_utf8(&r.text).is_err() {
        return EDESERIALIZE;
    }
    *data = r.text.as_ptr();
    *len = n;
    OK
}
