//! Get queries (the client side of request/reply).

use crate::bytes::{view, NzBytes};
use crate::callback::{CContext, NzDropFn};
use crate::error::*;
use crate::keyexpr::NzKeyExpr;
use crate::session::NzSession;
use std::ffi::c_void;
use std::os::raw::c_char;
use std::time::Duration;
use zenoh::bytes::Encoding;
use zenoh::qos::{CongestionControl, Priority};
use zenoh::query::{ConsolidationMode, QueryTarget, Reply};
use zenoh::Wait;

/// Reply callback: `ok` is false for an error reply; `key`/`key_len` is the
/// replying key (empty for an error reply). Both views are valid only during the call.
pub type NzReplyFn = Option<
    unsafe extern "C" fn(
        ctx: *mut c_void,
        ok: bool,
        payload: *const NzBytes,
        key: *const c_char,
        key_len: usize,
    ),
>;

/// Options of `nz_get`; `payload` (may be null) is consumed by the call.
#[repr(C)]
pub struct NzGetOptions {
    pub payload: *mut NzBytes,
    pub zenoh_serialized: bool,
    pub timeout_ms: u64,
    pub priority: u8,
    pub congestion_block: bool,
    /// Ask every matching queryable and pass on every reply as it comes
    /// (target all, no consolidation), instead of Zenoh's defaults.
    pub all_replies: bool,
    /// The selector's parameters (`len` bytes of UTF-8, may be null when 0).
    pub parameters: *const c_char,
    pub parameters_len: usize,
}

/// Issues a get; `on_drop(ctx)` runs once when the query ends (also when this call fails).
#[no_mangle]
pub unsafe extern "C" fn nz_get(
    session: *const NzSession,
    ke: *const NzKeyExpr,
    options: *const NzGetOptions,
    on_reply: NzReplyFn,
    on_drop: NzDropFn,
    ctx: *mut c_void,
) -> i8 {
    let context = CContext::new(ctx, on_drop);
    if options.is_null() {
        return NZ_ENULL;
    }
    let options = &*options;
    let payload = consume(options.payload).map(|p| p.0);
    let Some(on_reply) = on_reply else {
        return NZ_ENULL;
    };
    if session.is_null() || ke.is_null() {
        return NZ_ENULL;
    }
    let (session, ke) = (&*session, &*ke);
    let Ok(priority) = Priority::try_from(options.priority) else {
        return NZ_EINVAL;
    };
    let congestion = if options.congestion_block {
        CongestionControl::Block
    } else {
        CongestionControl::Drop
    };
    let (serialized, timeout_ms, all) = (
        options.zenoh_serialized,
        options.timeout_ms,
        options.all_replies,
    );
    let parameters = match slice_arg(options.parameters as *const u8, options.parameters_len) {
        Ok(bytes) => match std::str::from_utf8(bytes) {
            Ok(text) => text.to_owned(),
            Err(_) => return NZ_EUTF8,
        },
        Err(code) => return code,
    };
    guard(move || {
        let mut get = session
            .0
            .get((ke.0.clone(), parameters))
            .timeout(Duration::from_millis(timeout_ms))
            .priority(priority)
            .congestion_control(congestion);
        if let Some(p) = payload {
            get = get.payload(p);
        }
        if serialized {
            get = get.encoding(Encoding::ZENOH_SERIALIZED);
        }
        if all {
            get = get
                .target(QueryTarget::All)
                .consolidation(ConsolidationMode::None);
        }
        let result = get
            .callback(move |reply: Reply| unsafe {
                match reply.result() {
                    Ok(sample) => {
                        let key = sample.key_expr().as_str();
                        on_reply(
                            context.ptr(),
                            true,
                            view(sample.payload()),
                            key.as_ptr() as *const c_char,
                            key.len(),
                        )
                    }
                    Err(err) => on_reply(
                        context.ptr(),
                        false,
                        view(err.payload()),
                        std::ptr::null(),
                        0,
                    ),
                }
            })
            .wait();
        match result {
            Ok(()) => NZ_OK,
            Err(_) => NZ_EGENERIC,
        }
    })
}

/// Zenoh's "data" priority (1 is the highest), the default of a get.
pub const NZ_PRIORITY_DATA: u8 = 5;
