# Installs the build tree into a scratch prefix and makes its release archive
# with cpack, then checks that both hold exactly the files a host author
# needs (the module, the public header, the README and the licence) where the
# README says they are.
# Usage: cmake -DBUILD_DIR=dir -DSCRATCH=dir -DFILES=a|b|c -DARCHIVE=name -P check_package.cmake
string(REPLACE "|" ";" files "${FILES}")
list(SORT files)
set(failures "")

file(REMOVE_RECURSE ${SCRATCH})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${SCRATCH}/install
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install ${BUILD_DIR} failed")
endif()
file(GLOB_RECURSE installed RELATIVE ${SCRATCH}/install ${SCRATCH}/install/*)
list(SORT installed)
if(NOT installed STREQUAL files)
  list(APPEND failures "installed [${installed}], expected [${files}]")
endif()

execute_process(COMMAND cpack --config ${BUILD_DIR}/CPackConfig.cmake -B ${SCRATCH}/package
                WORKING_DIRECTORY ${BUILD_DIR} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0 OR NOT EXISTS ${SCRATCH}/package/${ARCHIVE})
  message(FATAL_ERROR "cpack made no ${ARCHIVE}:\n${out}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf ${SCRATCH}/package/${ARCHIVE}
                OUTPUT_VARIABLE listing RESULT_VARIABLE rc)
string(REGEX REPLACE "\\.(zip|tar\\.gz)$" "" top "${ARCHIVE}")
string(REPLACE "\n" ";" entries "${listing}")
set(packed "")
foreach(entry IN LISTS entries)
  # Regular files only, below the archive's one top-level folder.
  if(entry MATCHES "^${top}/(.*[^/])$")
    list(APPEND packed ${CMAKE_MATCH_1})
  elseif(NOT entry STREQUAL "" AND NOT entry MATCHES "^${top}/")
    list(APPEND failures "archive entry ${entry} outside ${top}/")
  endif()
endforeach()
list(SORT packed)
if(NOT packed STREQUAL files)
  list(APPEND failures "${ARCHIVE} holds [${packed}], expected [${files}]")
endif()

if(failures)
  list(JOIN failures "\n  " text)
  message(FATAL_ERROR "${text}")
endif()
message(STATUS "${ARCHIVE}: ${packed}")
message(STATUS "1 passed, 0 failed")
