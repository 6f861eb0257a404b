# What an install on Linux adds to the programs and the library: the manual pages (compressed
# with gzip -9n, without a name or timestamp, so that two builds give the same bytes) and bash
# and zsh completion. The Debian packages are made from debian/.
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
