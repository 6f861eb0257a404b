# The license texts that travel with the Windows zip: this project's LICENSE, and the notices
# of the libraries compiled into the programs: the JSON library (MIT/Expat) and the xxhash
# hash (BSD-2-clause), whose terms ask that they go with every copy. Each notice is taken from
# Debian's copyright file of the very package the build uses, so it always matches the headers
# compiled in and is never kept in this tree.

# Sets `out` to the holders of the package's own files ("Files: *") and the text of its
# `license` stanza, whose lines are indented by one space, with " ." for an empty line.
function(vexlor_package_notice package license out)
  set(copyright /usr/share/doc/${package}/copyright)
  if(NOT EXISTS ${copyright})
    message(FATAL_ERROR "${copyright} not found: install ${package} (scripts/setup.sh)")
  endif()
  file(READ ${copyright} notice)
  string(REGEX MATCH "Files: \\*\nCopyright: ([^\n]+)" holders "${notice}")
  set(holders "${CMAKE_MATCH_1}")
  string(REGEX MATCH "\nLicense: ${license}\n(( [^\n]*\n?)+)" text "${notice}")
  set(text "${CMAKE_MATCH_1}")
  if(NOT holders OR NOT text)
    message(FATAL_ERROR "${copyright}: no copyright line or no ${license} license text")
  endif()
  string(REGEX REPLACE "(^|\n) \\.?" "\\1" text "${text}")
  string(STRIP "${text}" text)
  set(${out} "Copyright (c) ${holders}\n\n${text}\n" PARENT_SCOPE)
  set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
               ${copyright})
endfunction()

vexlor_package_notice(nlohmann-json3-dev Expat vexlor_json_notice)
vexlor_package_notice(libxxhash-dev BSD-2-clause vexlor_xxhash_notice)
set(vexlor_third_party ${PROJECT_BINARY_DIR}/licenses/THIRD-PARTY-NOTICES.txt)
file(WRITE ${vexlor_third_party}
  "The programs and vexlor_bindings.dll include the JSON for Modern C++ library\n"
  "(nlohmann/json).\n\n${vexlor_json_notice}\n"
  "They also include the xxHash hash function (xxhash.h).\n\n${vexlor_xxhash_notice}")

# Windows line ends would be friendlier in Notepad, but every current editor reads these.
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt COMPONENT tool)
install(FILES ${vexlor_third_party} DESTINATION . COMPONENT tool)
