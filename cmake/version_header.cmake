# version.hpp is generated from the project version so the two cannot drift apart. It lands in
# the build tree next to no other header; the install rules copy it beside the hand-written ones.
set(DOVA_PACKAGE_GENERATED_INCLUDE_DIR "${PROJECT_BINARY_DIR}/include")
configure_file("${PROJECT_SOURCE_DIR}/include/dova/package/version.hpp.in"
               "${DOVA_PACKAGE_GENERATED_INCLUDE_DIR}/dova/package/version.hpp" @ONLY)
target_include_directories(dova_package
  PUBLIC "$<BUILD_INTERFACE:${DOVA_PACKAGE_GENERATED_INCLUDE_DIR}>")
