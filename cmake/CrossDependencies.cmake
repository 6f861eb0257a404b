# Dependencies of a cross build, taken from the build machine's Debian packages without
# letting the cross compiler see the build machine's own system headers: a header from
# /usr/include would silently mix glibc declarations into a Windows build.

# nlohmann json is header-only and the same on every target. The build tree gets a directory
# holding nothing but a link to Debian's nlohmann folder, and that directory is the one
# include path the target adds.
set(vexlor_nlohmann_source /usr/include/nlohmann)
set(vexlor_nlohmann_version_header ${vexlor_nlohmann_source}/detail/abi_macros.hpp)
if(NOT EXISTS ${vexlor_nlohmann_version_header})
  message(FATAL_ERROR "nlohmann json headers not found in ${vexlor_nlohmann_source}; "
                      "install nlohmann-json3-dev (scripts/setup.sh)")
endif()

file(STRINGS ${vexlor_nlohmann_version_header} vexlor_nlohmann_version_lines
     REGEX "^#define NLOHMANN_JSON_VERSION_(MAJOR|MINOR|PATCH) ")
foreach(part MAJOR MINOR PATCH)
  string(REGEX REPLACE ".*NLOHMANN_JSON_VERSION_${part} +([0-9]+).*" "\\1"
         vexlor_nlohmann_${part} "${vexlor_nlohmann_version_lines}")
endforeach()
set(vexlor_nlohmann_version
    ${vexlor_nlohmann_MAJOR}.${vexlor_nlohmann_MINOR}.${vexlor_nlohmann_PATCH})
if(vexlor_nlohmann_version VERSION_LESS 3.11.2)
  message(FATAL_ERROR "nlohmann json ${vexlor_nlohmann_version} found, 3.11.2 or later needed")
endif()

set(vexlor_cross_include ${CMAKE_BINARY_DIR}/cross-include)
file(MAKE_DIRECTORY ${vexlor_cross_include})
file(CREATE_LINK ${vexlor_nlohmann_source} ${vexlor_cross_include}/nlohmann SYMBOLIC)

# xxhash, used header-only, gets a directory of its own holding a link to Debian's header.
set(vexlor_xxhash_header /usr/include/xxhash.h)
if(NOT EXISTS ${vexlor_xxhash_header})
  message(FATAL_ERROR "${vexlor_xxhash_header} not found; install libxxhash-dev (scripts/setup.sh)")
endif()
set(vexlor_xxhash_include ${CMAKE_BINARY_DIR}/cross-include-xxhash)
file(MAKE_DIRECTORY ${vexlor_xxhash_include})
file(CREATE_LINK ${vexlor_xxhash_header} ${vexlor_xxhash_include}/xxhash.h SYMBOLIC)
add_library(vexlor_xxhash INTERFACE IMPORTED)
set_target_properties(vexlor_xxhash PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${vexlor_xxhash_include})

add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES ${vexlor_cross_include})
message(STATUS "nlohmann json ${vexlor_nlohmann_version} for the cross build: ${vexlor_cross_include}")

# GoogleTest is built from Debian's sources with the cross compiler; the googletest targets
# come with the GTest:: aliases the tests link against.
if(VEXLOR_BUILD_TESTS)
  set(vexlor_googletest_source /usr/src/googletest)
  if(NOT EXISTS ${vexlor_googletest_source}/CMakeLists.txt)
    message(FATAL_ERROR "GoogleTest sources not found in ${vexlor_googletest_source}; "
                        "install googletest (scripts/setup.sh)")
  endif()
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${vexlor_googletest_source} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL
                   SYSTEM)
endif()
