# What `cmake --install` puts where, the CMake package and pkg-config file that let other
# projects use the installed library, and the Windows zip CPack makes from that install.
#
# Included at the very end of the top-level CMakeLists.txt: it installs targets that the
# subdirectories create, so they must all exist by then.

include(CMakePackageConfigHelpers)

set(vexlor_cmake_dir "${CMAKE_INSTALL_LIBDIR}/cmake/vexlor_bindings")

set(vexlor_installed_programs vexlor-verify vexlor-bindings)

# Installed binaries must not carry the paths of the machine that built them (in debug
# information or in __FILE__), whatever the build type: map the source and build trees to
# relative names.
foreach(vexlor_target IN ITEMS vexlor_bindings vexlor_bindings_shared ${vexlor_installed_programs})
  target_compile_options(${vexlor_target} PRIVATE
    "$<$<CXX_COMPILER_ID:GNU,Clang>:-ffile-prefix-map=${PROJECT_SOURCE_DIR}=.;-ffile-prefix-map=${PROJECT_BINARY_DIR}=.>")
  target_link_libraries(${vexlor_target} PRIVATE $<BUILD_INTERFACE:vexlor_hardening>)
  if(vexlor_hardened)
    # The static library is built position-independent too, so that it links into PIE
    # programs and shared libraries alike.
    set_target_properties(${vexlor_target} PROPERTIES POSITION_INDEPENDENT_CODE ON)
  endif()
endforeach()

# Only the library joins the export set. vexlor_build_options reaches it through
# $<BUILD_INTERFACE:...> alone and vexlor_bindings_internal is never linked by it, so neither
# appears in the installed package.
#
# Three components: `tool` (the programs, their manual pages and shell completion), `runtime`
# (the shared library with the C interface, what a program using it needs at run time) and
# `dev` (what building against either library needs).
install(TARGETS vexlor_bindings EXPORT vexlor_bindingsTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tool)
# The shared library joins the export set as vexlor::bindings_c; its unversioned name (the
# link a build looks for) and, on Windows, its import library are for building only.
install(TARGETS vexlor_bindings_shared EXPORT vexlor_bindingsTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
if(WIN32)
  install(FILES ${PROJECT_BINARY_DIR}/patcher/vexlor_bindings.def
    DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
endif()
install(TARGETS ${vexlor_installed_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  COMPONENT tool)
if(NOT WIN32 AND CMAKE_OBJCOPY)
  # A stripped install (`cmake --install --strip`, the packages) also drops what nothing reads
  # at run time: the compiler's .comment and any .note section, and the library's debugging
  # information, as Debian's own tools do. Archive members then carry no timestamps.
  set(vexlor_drop_sections --remove-section=.comment --remove-section=.note)
  install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
      foreach(vexlor_program IN ITEMS ${vexlor_installed_programs})
        execute_process(COMMAND \"${CMAKE_OBJCOPY}\" ${vexlor_drop_sections}
          \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/\${vexlor_program}\"
          COMMAND_ERROR_IS_FATAL ANY)
      endforeach()
    endif()" COMPONENT tool)
  install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
      execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --strip-debug ${vexlor_drop_sections}
        --enable-deterministic-archives
        \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/$<TARGET_FILE_NAME:vexlor_bindings>\"
        COMMAND_ERROR_IS_FATAL ANY)
    endif()" COMPONENT dev)
endif()
# The public headers only; the patcher's internals stay in src/.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/patcher/include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  COMPONENT dev FILES_MATCHING PATTERN "*.h")

install(EXPORT vexlor_bindingsTargets
  NAMESPACE vexlor::
  FILE vexlor_bindingsTargets.cmake
  DESTINATION ${vexlor_cmake_dir}
  COMPONENT dev)
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
  DESTINATION ${vexlor_cmake_dir}
  COMPONENT dev)

include(${CMAKE_CURRENT_LIST_DIR}/PkgConfig.cmake)

if(NOT WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/UnixExtras.cmake)
endif()

# The Windows zip, made by `cpack` in the build directory from exactly the install above: a
# folder to unpack anywhere, with every component: bin/*.exe (statically linked, no DLLs needed
# beside them) and bin/vexlor_bindings.dll (its C++ runtime inside), include/ with both headers,
# lib/ with the static library, the DLL's import library and its .def file, and the license
# texts. The Linux packages are built from debian/ instead.
if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/Licenses.cmake)
  set(CPACK_PACKAGE_NAME vexlor-bindings)
  set(CPACK_PACKAGE_VENDOR "Vexlor")
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_PACKAGE_CHECKSUM SHA256)
  set(CPACK_STRIP_FILES ON)
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
  set(CPACK_GENERATOR ZIP)
  include(CPack)
endif()
