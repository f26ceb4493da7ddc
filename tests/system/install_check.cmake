# Installs the build into a scratch prefix and runs the installed programs
# from the file system's root: each answers --help, and the simulator
# provisions a board with a profile it finds by name under its own prefix
# (a marked copy there, so that one found elsewhere would show).
# Usage: cmake -DBUILD_DIR=... -DPREFIX=... -P install_check.cmake
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
                RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE error)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (${status}): ${error}")
endif()
foreach(tool swboot-sim swboot-image swboot-log)
  execute_process(COMMAND ${PREFIX}/bin/${tool} --help WORKING_DIRECTORY /
                  RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE error)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${tool} --help from / failed (${status}): ${error}")
  endif()
endforeach()
set(profile ${PREFIX}/share/swboot/profiles/fiber.toml)
if(NOT EXISTS ${profile})
  message(FATAL_ERROR "the profiles were not installed to ${profile}")
endif()
file(APPEND ${profile} "# the installed copy\n")
execute_process(COMMAND ${PREFIX}/bin/swboot-sim provision --state ${PREFIX}/board --profile fiber
                WORKING_DIRECTORY / RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE error)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the installed swboot-sim could not provision with --profile fiber (${status}): ${error}")
endif()
file(READ ${PREFIX}/board/profile.toml kept)
if(NOT kept MATCHES "# the installed copy")
  message(FATAL_ERROR "the installed swboot-sim took a profile from outside its prefix")
endif()
file(REMOVE_RECURSE ${PREFIX})
