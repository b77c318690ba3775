//! Subscribers.

use crate::bytes::{view, NzBytes};
use crate::callback::{CContext, NzDropFn};
use crate::error::*;
use crate::keyexpr::NzKeyExpr;
use crate::session::NzSession;
use std::ffi::c_void;
use zenoh::pubsub::Subscriber;
use zenoh::sample::Sample;
use zenoh::Wait;

/// Sample callback: the payload view is valid only during the call.
pub type NzSampleFn = Option<unsafe extern "C" fn(ctx: *mut c_void, payload: *const NzBytes)>;

pub struct NzSubscriber(Subscriber<()>);

/// Declares a subscriber; `on_drop(ctx)` runs once when Zenoh releases the callback.
#[no_mangle]
pub unsafe extern "C" fn nz_declare_subscriber(
    out: *mut *mut NzSubscriber,
    session: *const NzSession,
    ke: *const NzKeyExpr,
    on_sample: NzSampleFn,
    on_drop: NzDropFn,
    ctx: *mut c_void,
) -> i8 {
    let context = CContext::new(ctx, on_drop);
    let Some(on_sample) = on_sample else {
        return NZ_ENULL;
    };
    if session.is_null() || ke.is_null() || out.is_null() {
        return NZ_ENULL;
    }
    let (session, ke) = (&*session, &*ke);
    guard(move || {
        let result = session
            .0
            .declare_subscriber(ke.0.clone())
            .callback(move |sample: Sample| unsafe {
                on_sample(context.ptr(), view(sample.payload()))
            })
            .wait();
        match result {
            Ok(sub) => unsafe { emit(out, NzSubscriber(sub)) },
            Err(_) => NZ_EGENERIC,
        }
    })
}

/// Undeclares the subscriber; on return no callback of it runs or will run.
#[no_mangle]
pub unsafe extern "C" fn nz_undeclare_subscriber(sub: *mut NzSubscriber) -> i8 {
    if sub.is_null() {
        return NZ_ENULL;
    }
    let sub = Box::from_raw(sub);
    guard(move || match sub.0.undeclare().wait_callbacks().wait() {
        Ok(()) => NZ_OK,
        Err(_) => NZ_EGENERIC,
    })
}
