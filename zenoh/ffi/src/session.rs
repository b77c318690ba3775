//! Configuration and session.

use crate::error::*;
use std::ffi::CStr;
use std::os::raw::c_char;
use zenoh::{Config, Session, Wait};

pub struct NzConfig(pub(crate) Config);
pub struct NzSession(pub(crate) Session);

/// Creates Zenoh's default configuration.
#[no_mangle]
pub unsafe extern "C" fn nz_config_default(out: *mut *mut NzConfig) -> i8 {
    if out.is_null() {
        return NZ_ENULL;
    }
    guard(|| unsafe { emit(out, NzConfig(Config::default())) })
}

/// Reads a configuration file (JSON5, JSON or YAML, by its extension), as
/// Zenoh's own tools do; on failure `nz_last_error` gives Zenoh's reason.
#[no_mangle]
pub unsafe extern "C" fn nz_config_from_file(out: *mut *mut NzConfig, path: *const c_char) -> i8 {
    let path = match text_arg(path) {
        Ok(path) => path.to_owned(),
        Err(code) => return code,
    };
    if out.is_null() {
        return NZ_ENULL;
    }
    guard(move || match Config::from_file(&path) {
        Ok(config) => unsafe { emit(out, NzConfig(config)) },
        Err(e) => fail(NZ_EINVAL, e),
    })
}

/// Parses a configuration from JSON5 text; on failure `nz_last_error` gives Zenoh's reason.
#[no_mangle]
pub unsafe extern "C" fn nz_config_from_json5(out: *mut *mut NzConfig, text: *const c_char) -> i8 {
    let text = match text_arg(text) {
        Ok(text) => text.to_owned(),
        Err(code) => return code,
    };
    if out.is_null() {
        return NZ_ENULL;
    }
    guard(move || match Config::from_json5(&text) {
        Ok(config) => unsafe { emit(out, NzConfig(config)) },
        Err(e) => fail(NZ_EINVAL, e),
    })
}

/// Sets the value at `key` (a path such as "connect/endpoints") from JSON5
/// text; on failure `nz_last_error` gives Zenoh's reason and the
/// configuration is unchanged.
#[no_mangle]
pub unsafe extern "C" fn nz_config_insert_json5(
    config: *mut NzConfig,
    key: *const c_char,
    value: *const c_char,
) -> i8 {
    let (key, value) = match (text_arg(key), text_arg(value)) {
        (Ok(key), Ok(value)) => (key, value),
        (Err(code), _) | (_, Err(code)) => return code,
    };
    if config.is_null() {
        return NZ_ENULL;
    }
    let config = &mut *config;
    guard(move || match config.0.insert_json5(key, value) {
        Ok(()) => NZ_OK,
        Err(e) => fail(NZ_EINVAL, e),
    })
}

/// The value at `key` as JSON text, written to `out` (NUL-terminated, cut to
/// `cap` bytes); returns the full length, or a negative code.
#[no_mangle]
pub unsafe extern "C" fn nz_config_get_json(
    config: *const NzConfig,
    key: *const c_char,
    out: *mut c_char,
    cap: usize,
) -> isize {
    let key = match text_arg(key) {
        Ok(key) => key,
        Err(code) => return code as isize,
    };
    if config.is_null() || (out.is_null() && cap > 0) {
        return NZ_ENULL as isize;
    }
    let config = &*config;
    let mut result = NZ_EGENERIC as isize;
    guard(|| {
        result = match config.0.get_json(key) {
            Ok(json) => {
                if cap > 0 {
                    let n = json.len().min(cap - 1);
                    std::ptr::copy_nonoverlapping(json.as_ptr(), out as *mut u8, n);
                    *out.add(n) = 0;
                }
                json.len() as isize
            }
            Err(e) => fail(NZ_EINVAL, e) as isize,
        };
        NZ_OK
    });
    result
}

/// Releases a configuration that was not consumed by `nz_open`.
#[no_mangle]
pub unsafe extern "C" fn nz_config_drop(config: *mut NzConfig) {
    if !config.is_null() {
        drop(Box::from_raw(config));
    }
}

/// Opens a session; consumes `config` whatever the outcome. On failure
/// `nz_last_error` gives Zenoh's reason (for a client whose routers cannot
/// be reached, it names their endpoints).
#[no_mangle]
pub unsafe extern "C" fn nz_open(out: *mut *mut NzSession, config: *mut NzConfig) -> i8 {
    let Some(config) = consume(config) else {
        return NZ_ENULL;
    };
    if out.is_null() {
        return NZ_ENULL;
    }
    guard(move || match zenoh::open(config.0).wait() {
        Ok(session) => unsafe { emit(out, NzSession(session)) },
        Err(e) => fail(NZ_EIO, e),
    })
}

/// Closes the session and releases its handle.
#[no_mangle]
pub unsafe extern "C" fn nz_close(session: *mut NzSession) -> i8 {
    if session.is_null() {
        return NZ_ENULL;
    }
    let session = Box::from_raw(session);
    guard(move || match session.0.close().wait() {
        Ok(()) => NZ_OK,
        Err(_) => NZ_EGENERIC,
    })
}

/// A NUL-terminated UTF-8 argument.
unsafe fn text_arg<'a>(text: *const c_char) -> Result<&'a str, i8> {
    if text.is_null() {
        return Err(NZ_ENULL);
    }
    CStr::from_ptr(text).to_str().map_err(|_| NZ_EUTF8)
}

fn fail(code: i8, reason: impl std::fmt::Display) -> i8 {
    set_last_error(reason);
    code
}
