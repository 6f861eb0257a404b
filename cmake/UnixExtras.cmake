# What an install on Linux adds to the programs and the library: the manual pages (compressed
# with gzip -9n, without a name or timestamp, so that two builds give the same bytes), bash and
# zsh completion, and, for the Debian packages only, each package's copyright and changelog.
find_program(VEXLOR_GZIP gzip REQUIRED)

set(vexlor_man_pages vexlor-bindings.1 vexlor-verify.1)
set(vexlor_completions vexlor-bindings.bash _vexlor-bindings)
set(vexlor_missing_docs)
foreach(vexlor_doc IN LISTS vexlor_man_pages)
  if(NOT EXISTS ${PROJECT_SOURCE_DIR}/man/${vexlor_doc})
    list(APPEND vexlor_missing_docs man/${vexlor_doc})
  endif()
endforeach()
foreach(vexlor_doc IN LISTS vexlor_completions)
  if(NOT EXISTS ${PROJECT_SOURCE_DIR}/completion/${vexlor_doc})
    list(APPEND vexlor_missing_docs completion/${vexlor_doc})
  endif()
endforeach()

if(vexlor_missing_docs)
  message(WARNING "Not found, so neither manual pages nor completion are installed: "
                  "${vexlor_missing_docs}")
else()
  set(vexlor_man_gz)
  foreach(vexlor_page IN LISTS vexlor_man_pages)
    set(vexlor_page_copy ${PROJECT_BINARY_DIR}/man/${vexlor_page})
    add_custom_command(OUTPUT ${vexlor_page_copy}.gz
      COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/man/${vexlor_page} ${vexlor_page_copy}
      COMMAND ${VEXLOR_GZIP} -9nf ${vexlor_page_copy}
      DEPENDS ${PROJECT_SOURCE_DIR}/man/${vexlor_page}
      VERBATIM)
    list(APPEND vexlor_man_gz ${vexlor_page_copy}.gz)
  endforeach()
  add_custom_target(vexlor_man_pages ALL DEPENDS ${vexlor_man_gz})
  install(FILES ${vexlor_man_gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tool)
  install(FILES ${PROJECT_SOURCE_DIR}/completion/vexlor-bindings.bash
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
    RENAME vexlor-bindings COMPONENT tool)
  install(FILES ${PROJECT_SOURCE_DIR}/completion/_vexlor-bindings
    DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions COMPONENT tool)
endif()

# Debian packaging revision: the package of upstream version X is X-<revision>. The changelog's
# latest entry must name exactly that version.
set(vexlor_debian_revision 1)
set(vexlor_debian_version "${PROJECT_VERSION}-${vexlor_debian_revision}")
set(vexlor_debian_dir ${PROJECT_SOURCE_DIR}/packaging/debian)
file(STRINGS ${vexlor_debian_dir}/changelog vexlor_changelog_top LIMIT_COUNT 1)
if(NOT vexlor_changelog_top MATCHES "^vexlor-bindings \\(${vexlor_debian_version}\\) ")
  message(FATAL_ERROR "packaging/debian/changelog: the latest entry is not for "
                      "${vexlor_debian_version}: ${vexlor_changelog_top}")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${vexlor_debian_dir}/changelog
  ${PROJECT_SOURCE_DIR}/LICENSE)

# The copyright file in Debian's machine-readable format, its license text taken from LICENSE:
# every line indented by one space, an empty line written as " .".
file(READ ${PROJECT_SOURCE_DIR}/LICENSE vexlor_license)
string(REGEX MATCH "Copyright \\(c\\) ([^\n]+)" vexlor_copyright "${vexlor_license}")
set(vexlor_copyright "${CMAKE_MATCH_1}")
string(FIND "${vexlor_license}" "Permission is hereby granted" vexlor_license_start)
if(NOT vexlor_copyright OR vexlor_license_start LESS 0)
  message(FATAL_ERROR "LICENSE: no copyright line or no MIT permission text")
endif()
string(SUBSTRING "${vexlor_license}" ${vexlor_license_start} -1 vexlor_license_text)
string(STRIP "${vexlor_license_text}" vexlor_license_text)
string(REPLACE "\n\n" "\n.\n" vexlor_license_text "${vexlor_license_text}")
string(REPLACE "\n" "\n " vexlor_license_text " ${vexlor_license_text}")
set(vexlor_debian_build_dir ${PROJECT_BINARY_DIR}/debian)
configure_file(${vexlor_debian_dir}/copyright.in ${vexlor_debian_build_dir}/copyright @ONLY)

add_custom_command(OUTPUT ${vexlor_debian_build_dir}/changelog.Debian.gz
  COMMAND ${CMAKE_COMMAND} -E copy ${vexlor_debian_dir}/changelog
          ${vexlor_debian_build_dir}/changelog.Debian
  COMMAND ${VEXLOR_GZIP} -9nf ${vexlor_debian_build_dir}/changelog.Debian
  DEPENDS ${vexlor_debian_dir}/changelog
  VERBATIM)
add_custom_target(vexlor_debian_changelog ALL DEPENDS ${vexlor_debian_build_dir}/changelog.Debian.gz)

# EXCLUDE_FROM_ALL: only a component install (CPack's, one package at a time) asks for these,
# so a plain `cmake --install` puts no Debian files under /usr/local.
foreach(vexlor_component IN ITEMS tool dev)
  set(vexlor_package vexlor-bindings)
  if(vexlor_component STREQUAL "dev")
    set(vexlor_package vexlor-bindings-dev)
  endif()
  install(FILES ${vexlor_debian_build_dir}/copyright ${vexlor_debian_build_dir}/changelog.Debian.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${vexlor_package}
    COMPONENT ${vexlor_component} EXCLUDE_FROM_ALL)
  install(FILES ${vexlor_debian_dir}/lintian-overrides
    DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME ${vexlor_package}
    COMPONENT ${vexlor_component} EXCLUDE_FROM_ALL)
endforeach()
