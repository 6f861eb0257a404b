# The license texts that travel with the Windows zip: this project's LICENSE, and the notice of
# the JSON library compiled into the programs, whose MIT (Expat) terms ask that it go with every
# copy. That notice is taken from Debian's copyright file of the very package the build uses, so
# it always matches the headers compiled in and is never kept in this tree.
set(vexlor_json_copyright /usr/share/doc/nlohmann-json3-dev/copyright)
if(NOT EXISTS ${vexlor_json_copyright})
  message(FATAL_ERROR "${vexlor_json_copyright} not found: install nlohmann-json3-dev "
                      "(scripts/setup.sh)")
endif()
file(READ ${vexlor_json_copyright} vexlor_json_notice)
# The holders of the library's own files ("Files: *") and the Expat text, a stanza whose lines
# are indented by one space, with " ." for an empty line.
string(REGEX MATCH "Files: \\*\nCopyright: ([^\n]+)" vexlor_json_holders "${vexlor_json_notice}")
set(vexlor_json_holders "${CMAKE_MATCH_1}")
string(REGEX MATCH "\nLicense: Expat\n(( [^\n]*\n?)+)" vexlor_json_license "${vexlor_json_notice}")
set(vexlor_json_license "${CMAKE_MATCH_1}")
if(NOT vexlor_json_holders OR NOT vexlor_json_license)
  message(FATAL_ERROR "${vexlor_json_copyright}: no copyright line or no Expat license text")
endif()
string(REGEX REPLACE "(^|\n) \\.?" "\\1" vexlor_json_license "${vexlor_json_license}")
string(STRIP "${vexlor_json_license}" vexlor_json_license)
set(vexlor_third_party ${PROJECT_BINARY_DIR}/licenses/THIRD-PARTY-NOTICES.txt)
file(WRITE ${vexlor_third_party}
  "The programs and vexlor_bindings.dll include the JSON for Modern C++ library\n"
  "(nlohmann/json).\n\n"
  "Copyright (c) ${vexlor_json_holders}\n\n${vexlor_json_license}\n")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${vexlor_json_copyright})

# Windows line ends would be friendlier in Notepad, but every current editor reads these.
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt COMPONENT tool)
install(FILES ${vexlor_third_party} DESTINATION . COMPONENT tool)
