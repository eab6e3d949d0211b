# Install rules: headers, the library, the schemas, a CMake package exporting dova::package and a
# pkg-config file. Both the CMake package and the .pc file are relocatable, so
# `cmake --install BUILD --prefix DIR` works for any DIR.
include(CMakePackageConfigHelpers)

set(DOVA_PACKAGE_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/dova_package")

install(DIRECTORY "${PROJECT_SOURCE_DIR}/include/"
        DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}"
        FILES_MATCHING PATTERN "*.hpp")
install(FILES "${DOVA_PACKAGE_GENERATED_INCLUDE_DIR}/dova/package/version.hpp"
        DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}/dova/package")

install(TARGETS dova_package EXPORT dova_packageTargets
        ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}"
        LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}"
        RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
install(EXPORT dova_packageTargets
        NAMESPACE dova::
        DESTINATION "${DOVA_PACKAGE_CMAKE_DIR}")

# The schemas, so that packages and reports can be inspected with `capnp decode`.
install(FILES "${PROJECT_SOURCE_DIR}/schema/application.capnp"
              "${PROJECT_SOURCE_DIR}/schema/profile_common.capnp"
              "${PROJECT_SOURCE_DIR}/schema/profile.capnp"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/dova_package/schema")

configure_package_config_file("${PROJECT_SOURCE_DIR}/cmake/dova_packageConfig.cmake.in"
  "${PROJECT_BINARY_DIR}/dova_packageConfig.cmake"
  INSTALL_DESTINATION "${DOVA_PACKAGE_CMAKE_DIR}")
# Before 1.0 a minor release may change the interface.
write_basic_package_version_file("${PROJECT_BINARY_DIR}/dova_packageConfigVersion.cmake"
  COMPATIBILITY SameMinorVersion)
install(FILES "${PROJECT_BINARY_DIR}/dova_packageConfig.cmake"
              "${PROJECT_BINARY_DIR}/dova_packageConfigVersion.cmake"
        DESTINATION "${DOVA_PACKAGE_CMAKE_DIR}")

# The .pc file finds its prefix from its own place, unless the directories were given absolute.
set(DOVA_PACKAGE_PC_DIR "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(DOVA_PACKAGE_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  set(DOVA_PACKAGE_PC_LIBDIR "${CMAKE_INSTALL_FULL_LIBDIR}")
  set(DOVA_PACKAGE_PC_INCLUDEDIR "${CMAKE_INSTALL_FULL_INCLUDEDIR}")
else()
  file(RELATIVE_PATH DOVA_PACKAGE_PC_UP "/root/${DOVA_PACKAGE_PC_DIR}" "/root")
  string(REGEX REPLACE "/$" "" DOVA_PACKAGE_PC_UP "${DOVA_PACKAGE_PC_UP}")
  set(DOVA_PACKAGE_PC_PREFIX "\${pcfiledir}/${DOVA_PACKAGE_PC_UP}")
  set(DOVA_PACKAGE_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
  set(DOVA_PACKAGE_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()

# A static library carries its private dependencies into the consumer's link; a shared one
# resolves them itself. `pkg-config --static` draws them in, with their own private libraries.
get_target_property(DOVA_PACKAGE_LIBRARY_TYPE dova_package TYPE)
set(DOVA_PACKAGE_PC_REQUIRES_PRIVATE "")
if(DOVA_PACKAGE_LIBRARY_TYPE STREQUAL "STATIC_LIBRARY")
  set(DOVA_PACKAGE_PC_REQUIRES_PRIVATE "Requires.private: capnp kj fmt")
endif()
configure_file("${PROJECT_SOURCE_DIR}/cmake/dova_package.pc.in"
               "${PROJECT_BINARY_DIR}/dova_package.pc" @ONLY)
install(FILES "${PROJECT_BINARY_DIR}/dova_package.pc" DESTINATION "${DOVA_PACKAGE_PC_DIR}")

# Installed executables find a shared dova_package installed beside them.
if(TARGET dovapkg AND DOVA_PACKAGE_LIBRARY_TYPE STREQUAL "SHARED_LIBRARY")
  if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_BINDIR}")
    set_target_properties(dovapkg PROPERTIES INSTALL_RPATH "${CMAKE_INSTALL_FULL_LIBDIR}")
  else()
    file(RELATIVE_PATH DOVA_PACKAGE_BIN_TO_LIB "/root/${CMAKE_INSTALL_BINDIR}"
         "/root/${CMAKE_INSTALL_LIBDIR}")
    set_target_properties(dovapkg PROPERTIES INSTALL_RPATH "$ORIGIN/${DOVA_PACKAGE_BIN_TO_LIB}")
  endif()
endif()
