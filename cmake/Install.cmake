# What `cmake --install` puts where, the CMake package and pkg-config file that let other
# projects use the installed library, and the binary packages CPack makes from that install:
# a .deb from the Linux build, a .zip from the Windows cross build.
#
# Included at the very end of the top-level CMakeLists.txt: it installs targets that the
# subdirectories create, so they must all exist by then.

include(CMakePackageConfigHelpers)

set(vexlor_cmake_dir "${CMAKE_INSTALL_LIBDIR}/cmake/vexlor_bindings")

set(vexlor_installed_programs vexlor-verify vexlor-bindings)

# Installed binaries must not carry the paths of the machine that built them (in debug
# information or in __FILE__), whatever the build type: map the source and build trees to
# relative names.
foreach(vexlor_target IN ITEMS vexlor_bindings ${vexlor_installed_programs})
  target_compile_options(${vexlor_target} PRIVATE
    "$<$<CXX_COMPILER_ID:GNU,Clang>:-ffile-prefix-map=${PROJECT_SOURCE_DIR}=.;-ffile-prefix-map=${PROJECT_BINARY_DIR}=.>")
endforeach()

# Only the library joins the export set. vexlor_build_options reaches it through
# $<BUILD_INTERFACE:...> alone and vexlor_bindings_internal is never linked by it, so neither
# appears in the installed package.
install(TARGETS vexlor_bindings EXPORT vexlor_bindingsTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS ${vexlor_installed_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The public headers only; the patcher's internals stay in src/.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/patcher/include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  FILES_MATCHING PATTERN "*.h")

install(EXPORT vexlor_bindingsTargets
  NAMESPACE vexlor::
  FILE vexlor_bindingsTargets.cmake
  DESTINATION ${vexlor_cmake_dir})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/vexlor_bindingsConfig.cmake.in
  ${PROJECT_BINARY_DIR}/vexlor_bindingsConfig.cmake
  INSTALL_DESTINATION ${vexlor_cmake_dir}
  NO_SET_AND_CHECK_MACRO)
# Any 1.x satisfies a request for 1.y with y <= x; 2.0 would break the API.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/vexlor_bindingsConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/vexlor_bindingsConfig.cmake
  ${PROJECT_BINARY_DIR}/vexlor_bindingsConfigVersion.cmake
  DESTINATION ${vexlor_cmake_dir})

# pkg-config: the prefix is found from the .pc file's own location, so the same file works in
# /usr, in /usr/local and in any staging directory the tree is installed into.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  # Absolute directories pin the install to one place; the file says so plainly.
  set(vexlor_pc_prefix "${CMAKE_INSTALL_PREFIX}")
  set(vexlor_pc_libdir "${CMAKE_INSTALL_FULL_LIBDIR}")
  set(vexlor_pc_includedir "${CMAKE_INSTALL_FULL_INCLUDEDIR}")
else()
  file(RELATIVE_PATH vexlor_pc_up "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
  string(REGEX REPLACE "/$" "" vexlor_pc_up "${vexlor_pc_up}")
  set(vexlor_pc_prefix "\${pcfiledir}/${vexlor_pc_up}")
  set(vexlor_pc_libdir "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
  set(vexlor_pc_includedir "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/vexlor_bindings.pc.in
  ${PROJECT_BINARY_DIR}/vexlor_bindings.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/vexlor_bindings.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# Binary packages, made by `cpack` in the build directory from exactly the install above.
set(CPACK_PACKAGE_NAME vexlor-bindings)
set(CPACK_PACKAGE_VENDOR "Vexlor")
set(CPACK_PACKAGE_CONTACT "Vexlor maintainers <maintainers@users.noreply.c-seed-2adf9672.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION
    "Patches the generic-HMD input-binding file of a VR compositor so that the headset alone \
drives the laser mouse, crash-safely and reversibly. Contains the vexlor-bindings command-line \
tool, the vexlor-verify self-test, and the C++ library with its header, CMake package and \
pkg-config file.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  # A folder to unpack anywhere: bin/*.exe (statically linked, no DLLs needed beside them),
  # include/ and lib/ for building against the static library.
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION devel)
  # The header includes <nlohmann/json_fwd.hpp>, and the CMake and pkg-config files look for it;
  # the C and C++ runtime dependencies of the programs come from dpkg-shlibdeps.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "nlohmann-json3-dev (>= 3.11.2)")
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()

include(CPack)
