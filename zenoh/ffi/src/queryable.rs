//! Queryables and replies (the server side, for the test server and benchmarks).

use crate::bytes::{view, NzBytes};
use crate::callback::{CContext, NzDropFn};
use crate::error::*;
use crate::keyexpr::NzKeyExpr;
use crate::session::NzSession;
use std::ffi::c_void;
use zenoh::bytes::Encoding;
use zenoh::query::{Query, Queryable};
use zenoh::Wait;

pub struct NzQuery(Query);
pub struct NzQueryable(Queryable<()>);

/// Query callback: the query is borrowed for the call; clone it to answer later.
pub type NzQueryFn = Option<unsafe extern "C" fn(ctx: *mut c_void, query: *const NzQuery)>;

/// Declares a queryable; `on_drop(ctx)` runs once when Zenoh releases the callback.
#[no_mangle]
pub unsafe extern "C" fn nz_declare_queryable(
    out: *mut *mut NzQueryable,
    session: *const NzSession,
    ke: *const NzKeyExpr,
    on_query: NzQueryFn,
    on_drop: NzDropFn,
    ctx: *mut c_void,
) -> i8 {
    let context = CContext::new(ctx, on_drop);
    let Some(on_query) = on_query else {
        return NZ_ENULL;
    };
    if session.is_null() || ke.is_null() || out.is_null() {
        return NZ_ENULL;
    }
    let (session, ke) = (&*session, &*ke);
    guard(move || {
        let result = session
            .0
            .declare_queryable(ke.0.clone())
            .callback(move |query: Query| {
                let q = NzQuery(query);
                unsafe { on_query(context.ptr(), &q) }
            })
            .wait();
        match result {
            Ok(q) => unsafe { emit(out, NzQueryable(q)) },
            Err(_) => NZ_EGENERIC,
        }
    })
}

/// Undeclares the queryable; on return no callback of it runs or will run.
#[no_mangle]
pub unsafe extern "C" fn nz_undeclare_queryable(q: *mut NzQueryable) -> i8 {
    if q.is_null() {
        return NZ_ENULL;
    }
    let q = Box::from_raw(q);
    guard(move || match q.0.undeclare().wait_callbacks().wait() {
        Ok(()) => NZ_OK,
        Err(_) => NZ_EGENERIC,
    })
}

/// The query's payload, or null when it has none; valid while the query lives.
#[no_mangle]
pub unsafe extern "C" fn nz_query_payload(q: *const NzQuery) -> *const NzBytes {
    if q.is_null() {
        return std::ptr::null();
    }
    match (*q).0.payload() {
        Some(p) => view(p),
        None => std::ptr::null(),
    }
}

/// The query's selector parameters (the text after '?', empty when none);
/// valid while the query lives.
#[no_mangle]
pub unsafe extern "C" fn nz_query_parameters(
    q: *const NzQuery,
    len: *mut usize,
) -> *const std::os::raw::c_char {
    let (text, n) = if q.is_null() {
        (std::ptr::null(), 0)
    } else {
        let p = (*q).0.parameters().as_str();
        (p.as_ptr() as *const std::os::raw::c_char, p.len())
    };
    if !len.is_null() {
        *len = n;
    }
    text
}

/// Keeps a query beyond its callback, to answer it later.
#[no_mangle]
pub unsafe extern "C" fn nz_query_clone(out: *mut *mut NzQuery, q: *const NzQuery) -> i8 {
    if q.is_null() || out.is_null() {
        return NZ_ENULL;
    }
    let q = &*q;
    guard(|| unsafe { emit(out, NzQuery(q.0.clone())) })
}

/// Releases a kept query; the query ends when its last handle goes.
#[no_mangle]
pub unsafe extern "C" fn nz_query_drop(q: *mut NzQuery) {
    if !q.is_null() {
        drop(Box::from_raw(q));
    }
}

/// Sends a good reply on the query's key; consumes `payload`.
#[no_mangle]
pub unsafe extern "C" fn nz_query_reply(
    q: *const NzQuery,
    payload: *mut NzBytes,
    zenoh_serialized: bool,
) -> i8 {
    let Some(payload) = consume(payload) else {
        return NZ_ENULL;
    };
    if q.is_null() {
        return NZ_ENULL;
    }
    let (q, payload) = (&*q, payload.0);
    guard(move || {
        let mut reply = q.0.reply(q.0.key_expr().clone(), payload);
        if zenoh_serialized {
            reply = reply.encoding(Encoding::ZENOH_SERIALIZED);
        }
        match reply.wait() {
            Ok(()) => NZ_OK,
            Err(_) => NZ_EGENERIC,
        }
    })
}

/// Sends an error reply; consumes `payload`.
#[no_mangle]
pub unsafe extern "C" fn nz_query_reply_err(q: *const NzQuery, payload: *mut NzBytes) -> i8 {
    let Some(payload) = consume(payload) else {
        return NZ_ENULL;
    };
    if q.is_null() {
        return NZ_ENULL;
    }
    let (q, payload) = (&*q, payload.0);
    guard(move || match q.0.reply_err(payload).wait() {
        Ok(()) => NZ_OK,
        Err(_) => NZ_EGENERIC,
    })
}
