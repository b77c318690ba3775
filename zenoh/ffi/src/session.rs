//! Configuration and session.

use crate::error::*;
use zenoh::{Config, Session, Wait};

pub struct NzConfig(pub(crate) Config);
pub struct NzSession(pub(crate) Session);

/// Creates Zenoh's default configuration.
#[no_mangle]
pub unsafe extern "C" fn nz_config_default(out: *mut *mut NzConfig) -> i8 {
    guard(|| unsafe { emit(out, NzConfig(Config::default())) })
}

/// Releases a configuration that was not consumed by `nz_open`.
#[no_mangle]
pub unsafe extern "C" fn nz_config_drop(config: *mut NzConfig) {
    if !config.is_null() {
        drop(Box::from_raw(config));
    }
}

/// Opens a session; consumes `config` whatever the outcome.
#[no_mangle]
pub unsafe extern "C" fn nz_open(out: *mut *mut NzSession, config: *mut NzConfig) -> i8 {
    if config.is_null() {
        return Z_ENULL;
    }
    let config = Box::from_raw(config);
    guard(move || match zenoh::open(config.0).wait() {
        Ok(session) => unsafe { emit(out, NzSession(session)) },
        Err(_) => Z_EIO,
    })
}

/// Closes the session and releases its handle.
#[no_mangle]
pub unsafe extern "C" fn nz_close(session: *mut NzSession) -> i8 {
    if session.is_null() {
        return Z_ENULL;
    }
    let session = Box::from_raw(session);
    guard(move || match session.0.close().wait() {
        Ok(()) => Z_OK,
        Err(_) => Z_EGENERIC,
    })
}
