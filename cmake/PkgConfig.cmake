# The pkg-config file, in two forms, one of which is chosen when it is installed:
# - into the prefix the build was configured for (a plain `cmake --install`, the Debian
#   package's /usr) it names its directories absolutely, so pkg-config prints -I/usr/include,
#   which it knows as a system directory and leaves out;
# - anywhere else (`cmake --install --prefix DIR`, the Windows zip) it finds the prefix from
#   its own location, so that the installed tree can be moved as a whole.
set(vexlor_pc_build_dir "${PROJECT_BINARY_DIR}/pkgconfig")

set(vexlor_pc_prefix "${CMAKE_INSTALL_PREFIX}")
set(vexlor_pc_libdir "${CMAKE_INSTALL_FULL_LIBDIR}")
set(vexlor_pc_includedir "${CMAKE_INSTALL_FULL_INCLUDEDIR}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/vexlor_bindings.pc.in
  ${vexlor_pc_build_dir}/absolute/vexlor_bindings.pc @ONLY)

if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  # Absolute directories pin the install to one place whatever the prefix.
  install(FILES ${vexlor_pc_build_dir}/absolute/vexlor_bindings.pc
    DESTINATION ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig COMPONENT dev)
  return()
endif()

file(RELATIVE_PATH vexlor_pc_up "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
string(REGEX REPLACE "/$" "" vexlor_pc_up "${vexlor_pc_up}")
set(vexlor_pc_prefix "\${pcfiledir}/${vexlor_pc_up}")
set(vexlor_pc_libdir "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
set(vexlor_pc_includedir "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/vexlor_bindings.pc.in
  ${vexlor_pc_build_dir}/relocatable/vexlor_bindings.pc @ONLY)

install(CODE "
  set(vexlor_pc_form relocatable)
  if(CMAKE_INSTALL_PREFIX STREQUAL \"${CMAKE_INSTALL_PREFIX}\")
    set(vexlor_pc_form absolute)
  endif()
  file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig\"
    TYPE FILE FILES \"${vexlor_pc_build_dir}/\${vexlor_pc_form}/vexlor_bindings.pc\")
" COMPONENT dev)
