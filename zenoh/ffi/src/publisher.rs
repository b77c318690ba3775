//! Publishers (the robot side, for the test server and benchmarks).

use crate::bytes::NzBytes;
use crate::error::*;
use crate::keyexpr::NzKeyExpr;
use crate::session::NzSession;
use zenoh::bytes::Encoding;
use zenoh::pubsub::Publisher;
use zenoh::Wait;

pub struct NzPublisher(Publisher<'static>);

/// Declares a publisher with default options and the zenoh serialized encoding.
#[no_mangle]
pub unsafe extern "C" fn nz_declare_publisher(
    out: *mut *mut NzPublisher,
    session: *const NzSession,
    ke: *const NzKeyExpr,
) -> i8 {
    if session.is_null() || ke.is_null() || out.is_null() {
        return NZ_ENULL;
    }
    let (session, ke) = (&*session, &*ke);
    guard(move || {
        match session
            .0
            .declare_publisher(ke.0.clone())
            .encoding(Encoding::ZENOH_SERIALIZED)
            .wait()
        {
            Ok(p) => unsafe { emit(out, NzPublisher(p)) },
            Err(_) => NZ_EGENERIC,
        }
    })
}

/// Publishes `payload`; consumes it.
#[no_mangle]
pub unsafe extern "C" fn nz_publisher_put(
    publisher: *const NzPublisher,
    payload: *mut NzBytes,
) -> i8 {
    let Some(payload) = consume(payload) else {
        return NZ_ENULL;
    };
    if publisher.is_null() {
        return NZ_ENULL;
    }
    let (publisher, payload) = (&*publisher, payload.0);
    guard(move || match publisher.0.put(payload).wait() {
        Ok(()) => NZ_OK,
        Err(_) => NZ_EGENERIC,
    })
}

/// Undeclares the publisher and releases its handle.
#[no_mangle]
pub unsafe extern "C" fn nz_undeclare_publisher(publisher: *mut NzPublisher) -> i8 {
    if publisher.is_null() {
        return NZ_ENULL;
    }
    let publisher = Box::from_raw(publisher);
    guard(move || match publisher.0.undeclare().wait() {
        Ok(()) => NZ_OK,
        Err(_) => NZ_EGENERIC,
    })
}
