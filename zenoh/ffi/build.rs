// Gives the shared library a soname, so programs record its name, not its
// path, and writes the C header from the crate's source.
use std::path::Path;

fn main() {
    println!("cargo:rustc-cdylib-link-arg=-Wl,-soname,libnorvik_zenoh.so");
    println!("cargo:rerun-if-changed=src");
    println!("cargo:rerun-if-changed=cbindgen.toml");

    let crate_dir = std::env::var("CARGO_MANIFEST_DIR").expect("cargo sets CARGO_MANIFEST_DIR");
    let config = cbindgen::Config::from_file(Path::new(&crate_dir).join("cbindgen.toml"))
        .expect("cbindgen.toml reads");
    let header = Path::new(&crate_dir).join("include/norvik_zenoh.h");
    let bindings = cbindgen::Builder::new()
        .with_crate(&crate_dir)
        .with_config(config)
        .generate()
        .expect("the C header generates from the crate");
    // Written only when it changes, so that C++ sources including it do not rebuild.
    bindings.write_to_file(header);
}
