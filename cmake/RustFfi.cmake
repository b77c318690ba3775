# Builds the norvik_zenoh Rust crate with cargo and exposes it as the imported
# target norvik::zenoh_ffi. Cargo's target directory lives outside the build
# tree so that a fresh clone does not rebuild Zenoh.
find_program(CARGO_EXECUTABLE cargo HINTS "$ENV{HOME}/.cargo/bin" REQUIRED)

set(NORVIK_CARGO_TARGET_DIR "$ENV{HOME}/.cache/norvik-tarn/cargo-target"
    CACHE PATH "Cargo target directory for the Zenoh layer (shared between builds)")

set(_ffi_dir "${PROJECT_SOURCE_DIR}/zenoh/ffi")
set(_ffi_built "${NORVIK_CARGO_TARGET_DIR}/release/libnorvik_zenoh.so")
set(_ffi_lib "${CMAKE_BINARY_DIR}/lib/libnorvik_zenoh.so")
file(GLOB _ffi_sources CONFIGURE_DEPENDS "${_ffi_dir}/src/*.rs")

add_custom_command(
  OUTPUT "${_ffi_lib}"
  # Build tools export CC and friends; cargo would take them for a change and
  # rebuild Zenoh, so it always sees the same environment.
  COMMAND ${CMAKE_COMMAND} -E env --unset=CC --unset=CXX --unset=CFLAGS --unset=CXXFLAGS --unset=LDFLAGS
          CARGO_TARGET_DIR=${NORVIK_CARGO_TARGET_DIR}
          ${CARGO_EXECUTABLE} build --release --locked --quiet --manifest-path "${_ffi_dir}/Cargo.toml"
  COMMAND ${CMAKE_COMMAND} -E make_directory "${CMAKE_BINARY_DIR}/lib"
  COMMAND ${CMAKE_COMMAND} -E copy_if_different "${_ffi_built}" "${_ffi_lib}"
  DEPENDS ${_ffi_sources} "${_ffi_dir}/Cargo.toml" "${_ffi_dir}/Cargo.lock" "${_ffi_dir}/build.rs"
  COMMENT "Building the Zenoh layer (cargo)"
  VERBATIM USES_TERMINAL)
add_custom_target(norvik_zenoh_build DEPENDS "${_ffi_lib}")

add_library(norvik_zenoh SHARED IMPORTED GLOBAL)
set_target_properties(norvik_zenoh PROPERTIES
  IMPORTED_LOCATION "${_ffi_lib}"
  IMPORTED_SONAME "libnorvik_zenoh.so")
add_dependencies(norvik_zenoh norvik_zenoh_build)
add_library(norvik::zenoh_ffi ALIAS norvik_zenoh)

# The header-only C++ face of the layer (namespace zenoh), for the library,
# its tests, simulated peers and benchmarks; not installed.
add_library(norvik_zenoh_cpp INTERFACE)
target_include_directories(norvik_zenoh_cpp INTERFACE
  "${_ffi_dir}/include" "${PROJECT_SOURCE_DIR}/zenoh/cpp")
target_link_libraries(norvik_zenoh_cpp INTERFACE norvik_zenoh)
add_library(norvik::zenoh_cpp ALIAS norvik_zenoh_cpp)
