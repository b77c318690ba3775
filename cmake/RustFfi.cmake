# Builds the norvik_zenoh Rust crate with cargo and exposes it as the imported
# target norvik::zenoh_ffi. Cargo's target directory lives outside the build
# tree so that a fresh clone does not rebuild Zenoh.
find_program(CARGO_EXECUTABLE cargo HINTS "$ENV{HOME}/.cargo/bin" REQUIRED)

set(NORVIK_CARGO_TARGET_DIR "$ENV{HOME}/.cache/norvik-tarn/cargo-target"
    CACHE PATH "Cargo target directory for the Zenoh layer (shared between builds)")

# norvik_cargo_cdylib(TARGET CRATE_DIR LIBRARY): the cdylib LIBRARY (a file
# name) of the crate in CRATE_DIR as the imported shared library TARGET,
# copied into the build's lib/ and built only when something links it.
function(norvik_cargo_cdylib target crate_dir library)
  set(_built "${NORVIK_CARGO_TARGET_DIR}/release/${library}")
  set(_lib "${CMAKE_BINARY_DIR}/lib/${library}")
  file(GLOB _sources CONFIGURE_DEPENDS "${crate_dir}/src/*.rs")
  add_custom_command(
    OUTPUT "${_lib}"
    # Build tools export CC and friends; cargo would take them for a change and
    # rebuild Zenoh, so it always sees the same environment.
    COMMAND ${CMAKE_COMMAND} -E env --unset=CC --unset=CXX --unset=CFLAGS --unset=CXXFLAGS --unset=LDFLAGS
            CARGO_TARGET_DIR=${NORVIK_CARGO_TARGET_DIR}
            ${CARGO_EXECUTABLE} build --release --locked --quiet --manifest-path "${crate_dir}/Cargo.toml"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${CMAKE_BINARY_DIR}/lib"
    COMMAND ${CMAKE_COMMAND} -E copy_if_different "${_built}" "${_lib}"
    DEPENDS ${_sources} "${crate_dir}/Cargo.toml" "${crate_dir}/Cargo.lock" "${crate_dir}/build.rs"
    COMMENT "Building ${library} (cargo)"
    VERBATIM USES_TERMINAL)
  add_custom_target(${target}_build DEPENDS "${_lib}")
  add_library(${target} SHARED IMPORTED GLOBAL)
  set_target_properties(${target} PROPERTIES
    IMPORTED_LOCATION "${_lib}"
    IMPORTED_SONAME "${library}")
  add_dependencies(${target} ${target}_build)
endfunction()

set(_ffi_dir "${PROJECT_SOURCE_DIR}/zenoh/ffi")
norvik_cargo_cdylib(norvik_zenoh "${_ffi_dir}" libnorvik_zenoh.so)
add_library(norvik::zenoh_ffi ALIAS norvik_zenoh)

# The header-only C++ face of the layer (namespace zenoh), for the library,
# its tests, simulated peers and benchmarks; not installed.
add_library(norvik_zenoh_cpp INTERFACE)
target_include_directories(norvik_zenoh_cpp INTERFACE
  "${_ffi_dir}/include" "${PROJECT_SOURCE_DIR}/zenoh/cpp")
target_link_libraries(norvik_zenoh_cpp INTERFACE norvik_zenoh)
add_library(norvik::zenoh_cpp ALIAS norvik_zenoh_cpp)

# zenoh-ext's own reader, which the tests and fuzzers check the library's
# against (zenoh/ext-check): same pinned crates, features and profile, so
# cargo builds nothing twice. Never part of the library.
if(NORVIK_TARN_BUILD_TESTS OR NORVIK_TARN_FUZZ)
  set(_check_dir "${PROJECT_SOURCE_DIR}/zenoh/ext-check")
  norvik_cargo_cdylib(norvik_zenoh_ext_check "${_check_dir}" libnorvik_zenoh_ext_check.so)
  set_target_properties(norvik_zenoh_ext_check PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${_check_dir}/include")
  add_library(norvik::zenoh_ext_check ALIAS norvik_zenoh_ext_check)
endif()
