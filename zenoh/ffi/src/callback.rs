//! A C callback pair (call + drop) carried into Zenoh closures.

use std::ffi::c_void;

/// Called once when Zenoh releases the closure.
pub type NzDropFn = Option<unsafe extern "C" fn(ctx: *mut c_void)>;

/// Owns the caller's context pointer; runs the drop function exactly once,
/// when Zenoh drops the closure that holds it.
pub struct CContext {
    ctx: *mut c_void,
    drop_fn: NzDropFn,
}

// The C side guarantees its context may be used from any thread.
unsafe impl Send for CContext {}
unsafe impl Sync for CContext {}

impl CContext {
    pub fn new(ctx: *mut c_void, drop_fn: NzDropFn) -> Self {
        Self { ctx, drop_fn }
    }

    pub fn ptr(&self) -> *mut c_void {
        self.ctx
    }
}

impl Drop for CContext {
    fn drop(&mut self) {
        if let Some(f) = self.drop_fn {
            unsafe { f(self.ctx) };
        }
    }
}
