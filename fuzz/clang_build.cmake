# The fuzz build: clang with libFuzzer. Included from the root before any target is defined, so
# that every target of the build gets the mended headers and the coverage instrumentation.

if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "The fuzz targets need clang with libFuzzer (use the 'fuzz' preset)")
endif()

# Cap'n Proto 0.9.2 declares, in capnp/blob.h, `operator==` and `operator!=` of a `const char*`
# and a `Text::Builder` as `a == b.asString()`. In C++20 clang also considers the rewritten and
# reversed candidates of that comparison, finds none viable and rejects the header; later Cap'n
# Proto releases fixed it. The build compiles against a copy of the capnp include directory, made
# at configure time, in which the two comparisons are written with the string first. The copy is
# placed before the system directory; kj and everything else still come from the system.
if(CapnProto_VERSION VERSION_LESS "0.10")
  set(DOVA_MENDED_INCLUDE_DIR "${PROJECT_BINARY_DIR}/mended-include")
  file(REMOVE_RECURSE "${DOVA_MENDED_INCLUDE_DIR}/capnp")
  file(COPY "${CAPNP_INCLUDE_DIRECTORY}/capnp" DESTINATION "${DOVA_MENDED_INCLUDE_DIR}")
  set(blob_header "${DOVA_MENDED_INCLUDE_DIR}/capnp/blob.h")
  file(READ "${blob_header}" blob_text)
  set(mended_text "${blob_text}")
  string(REPLACE "{ return a == b.asString(); }" "{ return b.asString() == a; }" mended_text
                 "${mended_text}")
  string(REPLACE "{ return a != b.asString(); }" "{ return b.asString() != a; }" mended_text
                 "${mended_text}")
  if(mended_text STREQUAL blob_text)
    message(FATAL_ERROR "capnp/blob.h does not hold the comparisons this build mends")
  endif()
  file(WRITE "${blob_header}" "${mended_text}")
  include_directories(BEFORE SYSTEM "${DOVA_MENDED_INCLUDE_DIR}")
endif()

# Coverage for libFuzzer in every object; the fuzz targets link the fuzzer's own main.
add_compile_options(-fsanitize=fuzzer-no-link)
add_link_options(-fsanitize=fuzzer-no-link)
