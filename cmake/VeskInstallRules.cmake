# What the build needs before its targets are defined: the install directories, the version
# header made from the project's version, and the install rule of a program.

include(GNUInstallDirs)

# The project's version reaches callers through VeskHttpVersion.h, which VeskHttp.h includes;
# it is generated into the build tree and installed beside VeskHttp.h.
set(VESK_GENERATED_INCLUDE_DIR ${PROJECT_BINARY_DIR}/include)
configure_file(${CMAKE_CURRENT_LIST_DIR}/VeskHttpVersion.h.in
               ${VESK_GENERATED_INCLUDE_DIR}/VeskHttpVersion.h @ONLY)

# Installed programs find the library beside them, wherever the tree is installed or unpacked:
# their run path is relative to their own folder.
file(RELATIVE_PATH _vesk_bin_to_lib ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
set(VESK_PROGRAM_RPATH "$ORIGIN/${_vesk_bin_to_lib}")

# Man pages are made from the programs' own --help texts (the Windows build has no programs).
if(NOT WIN32)
  find_program(HELP2MAN help2man REQUIRED)
endif()

# vesk_install_program(<target> <summary>): installs a program of the "programs" component
# with its man page, made by help2man from its --help output.
function(vesk_install_program target summary)
  set_target_properties(${target} PROPERTIES INSTALL_RPATH "${VESK_PROGRAM_RPATH}")
  install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT programs)
  set(page ${CMAKE_CURRENT_BINARY_DIR}/${target}.1)
  add_custom_command(
    OUTPUT ${page}
    COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
            ${HELP2MAN} --no-info --no-discard-stderr --section=1
            --version-string=${PROJECT_VERSION} --name=${summary} --output=${page}
            $<TARGET_FILE:${target}>
    DEPENDS ${target}
    COMMENT "Writing the man page of ${target}"
    VERBATIM)
  add_custom_target(${target}_man ALL DEPENDS ${page})
  install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT programs)
endfunction()
