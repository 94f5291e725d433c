# Installation: public headers (hand-written and generated, C and C++), the two shared
# libraries with their versioned names, pkg-config files and the CMake
# package that gives users the imported targets lomari::lomari and
# lomari::qelrt, and the XML Schema of the domain's documents.
# Included after every target is defined; the install RPATH of programs
# ($ORIGIN/../lib) is set in the top-level file before they are.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# The installed library finds the runtime in its own folder; the runtime
# needs no path of ours.
set_target_properties(lomari PROPERTIES INSTALL_RPATH "$ORIGIN")
set_target_properties(qelrt PROPERTIES INSTALL_RPATH "")

install(TARGETS lomari qelrt
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
# The runtime's test knobs (qel/rt_control*.h) stay in the source tree, and
# the bus's header goes only with liblomari_bus (bus/).
set(_lomari_bus_header "lomari_bus.h")
if(TARGET lomari_bus)
  set(_lomari_bus_header "-")
endif()
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/lomari
                  ${LOMARI_GEN_DIR}/include/lomari
                  ${PROJECT_SOURCE_DIR}/runtime/include/qel
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        FILES_MATCHING PATTERN "*.h" PATTERN "*.hpp"
        PATTERN "rt_control*" EXCLUDE PATTERN "${_lomari_bus_header}" EXCLUDE)

# pkg-config: paths relative to the .pc file, so the prefix given to
# `cmake --install --prefix` holds whatever it was configured with.
file(RELATIVE_PATH _lomari_pc_to_prefix
     "/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/")
set(LOMARI_PC_PREFIX "\${pcfiledir}/${_lomari_pc_to_prefix}")
string(REGEX REPLACE "/$" "" LOMARI_PC_PREFIX "${LOMARI_PC_PREFIX}")
foreach(pc lomari qelrt)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/${pc}.pc.in
                 ${CMAKE_BINARY_DIR}/pkgconfig/${pc}.pc @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/pkgconfig/${pc}.pc
          DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()

# CMake package: imported targets written from the targets' own names.
set(LOMARI_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/lomari)
foreach(t lomari qelrt)
  get_target_property(_ver ${t} VERSION)
  get_target_property(_so ${t} SOVERSION)
  string(TOUPPER ${t} _T)
  set(LOMARI_${_T}_FILE lib${t}.so.${_ver})
  set(LOMARI_${_T}_SONAME lib${t}.so.${_so})
endforeach()
configure_package_config_file(
  ${CMAKE_CURRENT_LIST_DIR}/lomariConfig.cmake.in
  ${CMAKE_BINARY_DIR}/cmake/lomariConfig.cmake
  INSTALL_DESTINATION ${LOMARI_CMAKE_DIR}
  PATH_VARS CMAKE_INSTALL_INCLUDEDIR CMAKE_INSTALL_LIBDIR)
write_basic_package_version_file(
  ${CMAKE_BINARY_DIR}/cmake/lomariConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/cmake/lomariConfig.cmake
              ${CMAKE_BINARY_DIR}/cmake/lomariConfigVersion.cmake
        DESTINATION ${LOMARI_CMAKE_DIR})

# The XML Schema of the domain's documents, beside the headers' data.
install(FILES ${LOMARI_GEN_DIR}/share/lomari.xsd
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lomari)
