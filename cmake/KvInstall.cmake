# Install rules of the package, one call per part (see packaging/CMakeLists.txt
# and the README's "Installing").  Every executable lives with the interface
# libraries in one private folder, lib/r_iv618, and the PATH reaches it
# through a symbolic link in bin, so a program still finds the libraries
# beside its own (resolved) executable.
set(KV_PRIVATE_DIR lib/r_iv618)
set(KV_DOC_DIR share/doc/r-iv618)

# Every target whose output is installed, so the install test can have them
# built first (target installed_parts).
function(kv_installed target)
  set_property(GLOBAL APPEND PROPERTY KV_INSTALLED_TARGETS ${target})
endfunction()

# An executable target: into the private folder, with a command of its own
# name in bin.
function(kv_install_program target)
  kv_installed(${target})
  install(TARGETS ${target} RUNTIME DESTINATION ${KV_PRIVATE_DIR})
  get_target_property(name ${target} OUTPUT_NAME)
  if(NOT name)
    set(name ${target})
  endif()
  set(link ${CMAKE_BINARY_DIR}/packaging/bin/${name})
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/packaging/bin)
  file(CREATE_LINK ../${KV_PRIVATE_DIR}/${name} ${link} SYMBOLIC)
  install(FILES ${link} DESTINATION bin)
endfunction()

# A shared library the programs load at run time: beside them.
function(kv_install_library target)
  kv_installed(${target})
  install(TARGETS ${target} LIBRARY DESTINATION ${KV_PRIVATE_DIR})
endfunction()

# A manual page in roff, packaging/man/NAME.SECTION; @PROJECT_VERSION@ in it
# becomes the version.  Installed gzipped, as Debian wants it.  LANGUAGE ll
# takes packaging/man/ll/NAME.SECTION into share/man/ll/manSECTION.
function(kv_install_man page)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "LANGUAGE" "")
  string(REGEX MATCH "[0-9]$" section ${page})
  set(folder "")
  if(arg_LANGUAGE)
    set(folder ${arg_LANGUAGE}/)
  endif()
  set(source ${PROJECT_SOURCE_DIR}/packaging/man/${folder}${page})
  set(text ${CMAKE_BINARY_DIR}/packaging/man/${folder}${page})
  configure_file(${source} ${text} @ONLY)
  add_custom_command(OUTPUT ${text}.gz
    COMMAND gzip -9 -n -c ${text} > ${text}.gz
    DEPENDS ${text} VERBATIM)
  string(MAKE_C_IDENTIFIER "man_${folder}${page}" name)
  add_custom_target(${name} ALL DEPENDS ${text}.gz)
  kv_installed(${name})
  install(FILES ${text}.gz DESTINATION share/man/${folder}man${section})
endfunction()

# A bash completion file, packaging/completions/COMMAND, named for its command.
function(kv_install_completion command)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/completions/${command}
          DESTINATION share/bash-completion/completions)
endfunction()

# A systemd unit, packaging/systemd/UNIT; USER makes it a user unit.
# @KV_BIN@ in it becomes the folder of the commands (/usr/bin in the package).
function(kv_install_unit unit)
  cmake_parse_arguments(PARSE_ARGV 1 arg "USER" "" "")
  set(KV_BIN ${CMAKE_INSTALL_PREFIX}/bin)
  set(text ${CMAKE_BINARY_DIR}/packaging/systemd/${unit})
  configure_file(${PROJECT_SOURCE_DIR}/packaging/systemd/${unit} ${text} @ONLY)
  if(arg_USER)
    install(FILES ${text} DESTINATION lib/systemd/user)
  else()
    install(FILES ${text} DESTINATION lib/systemd/system)
  endif()
endfunction()
