# Installation and packaging of the library: the shared library with its SONAME links, the
# public headers, the CMake package VeskHttp (target VeskHttp::veskhttp), the pkg-config file
# veskhttp.pc, and .deb packages made by CPack. The programs install themselves through
# vesk_install_program (VeskInstallRules.cmake).
#
# Components, each a .deb package:
#   library      libveskhttp<major>: the shared library
#   development  libveskhttp-dev: headers, the linker name, CMake and pkg-config files
#   programs     vesk: the vesk command line and the vesk-emulator device emulator

include(CMakePackageConfigHelpers)

set(VESK_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/VeskHttp)

install(TARGETS veskhttp EXPORT VeskHttpTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library NAMELINK_COMPONENT development
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/VeskHttp.h ${VESK_GENERATED_INCLUDE_DIR}/VeskHttpVersion.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)

install(EXPORT VeskHttpTargets NAMESPACE VeskHttp:: DESTINATION ${VESK_CMAKE_PACKAGE_DIR}
  COMPONENT development)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/VeskHttpConfig.cmake.in
  ${PROJECT_BINARY_DIR}/packaging/VeskHttpConfig.cmake
  INSTALL_DESTINATION ${VESK_CMAKE_PACKAGE_DIR})
# Releases of one major version are binary compatible: the SONAME carries the major number.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/packaging/VeskHttpConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/packaging/VeskHttpConfig.cmake
              ${PROJECT_BINARY_DIR}/packaging/VeskHttpConfigVersion.cmake
  DESTINATION ${VESK_CMAKE_PACKAGE_DIR} COMPONENT development)

file(RELATIVE_PATH VESK_PC_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig
     ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" VESK_PC_TO_PREFIX "${VESK_PC_TO_PREFIX}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/veskhttp.pc.in ${PROJECT_BINARY_DIR}/packaging/veskhttp.pc
               @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/packaging/veskhttp.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)

# ---- .deb packages (make package) ----
# Packaging takes the build as it is and builds nothing (make package builds first): the
# packaging test must not rebuild the tree it runs in.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME veskhttp)
set(CPACK_PACKAGE_VENDOR "VeskHttp developers")
set(CPACK_PACKAGE_CONTACT "VeskHttp developers <veskhttp@localhost>")
# Each package's description is its component's: a summary line, then the details.
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_COMPONENTS_ALL library development programs)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
# Depends of each package: what its programs and libraries link, found by dpkg-shlibdeps,
# and the package of the library where it needs it, at this very version.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
# The programs' package does not hold the library they link: dpkg-shlibdeps reads it in the
# build tree, and the dependency on its package comes from the component's DEPENDS.
get_target_property(_vesk_library_dir veskhttp BINARY_DIR)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${_vesk_library_dir})

# The library's package says which package provides libveskhttp.so.<major> (its shlibs file),
# for packages built against it.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY "=")

set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME libveskhttp${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_LIBRARY_DESCRIPTION
    "client library for a network storage device's web administration API
VeskHttp logs in to the device, browses and changes its files, moves files up and down,
makes share links and archives, and reads the device's web-server settings.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libveskhttp-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEVELOPMENT_DEPENDS library)
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION
    "development files of VeskHttp
The headers, the linker name, the CMake package VeskHttp (target VeskHttp::veskhttp) and
the pkg-config file veskhttp.pc.")

set(CPACK_DEBIAN_PROGRAMS_PACKAGE_NAME vesk)
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SECTION net)
set(CPACK_COMPONENT_PROGRAMS_DEPENDS library)
set(CPACK_DEBIAN_PROGRAMS_DESCRIPTION
    "command line and emulator of a network storage device's web administration API
vesk works with the device's files, transfers, share links, archives and settings from the
command line; vesk-emulator plays the device on this machine.")

include(CPack)
