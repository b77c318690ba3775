// Gives the shared library a soname, so programs record its name, not its path.
fn main() {
    println!("cargo:rustc-cdylib-link-arg=-Wl,-soname,libnorvik_zenoh_ext_check.so");
}
