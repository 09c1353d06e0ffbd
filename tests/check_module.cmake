# Reads the built module's tables with objdump:
#   every build: exactly RenderPluginGetInfo and RenderPluginOutput exported;
#   Windows: only KERNEL32.dll and msvcrt.dll imported, and, when a 32-bit
#   build carries the MMX kernel, real MMX code (pcmpeqw on %mm registers,
#   emms); the x86-64 compiler may carry out MMX intrinsics in SSE registers.
# Usage: cmake -DMODULE=file -DOBJDUMP=objdump -DWINDOWS=ON|OFF -DKERNELS=a,b
#              [-DPOINTER_BYTES=4|8] -P check_module.cmake
set(failures "")

if(WINDOWS)
  execute_process(COMMAND ${OBJDUMP} -p ${MODULE} OUTPUT_VARIABLE headers RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} -p ${MODULE} failed")
  endif()
  # Export names: lines like "\t[   0] RenderPluginGetInfo" after the name
  # pointer table's heading.
  string(REGEX REPLACE ".*\\[Ordinal/Name Pointer\\] Table[^\n]*\n" "" names "${headers}")
  string(REGEX MATCHALL "\t\\[ *[0-9]+\\] [A-Za-z_@0-9]+" entries "${names}")
  set(exports "")
  foreach(entry IN LISTS entries)
    string(REGEX REPLACE ".*\\] " "" name "${entry}")
    list(APPEND exports ${name})
  endforeach()
  string(REGEX MATCHALL "DLL Name: [^\n]+" dlls "${headers}")
  foreach(dll IN LISTS dlls)
    string(REPLACE "DLL Name: " "" dll "${dll}")
    string(TOLOWER "${dll}" lower)
    if(NOT lower MATCHES "^(kernel32|msvcrt)\\.dll$")
      list(APPEND failures "imports ${dll}, which a host may not have")
    endif()
  endforeach()
  message(STATUS "imports: ${dlls}")
  if(KERNELS MATCHES "(^|,)mmx(,|$)" AND NOT POINTER_BYTES EQUAL 8)
    execute_process(COMMAND ${OBJDUMP} -d ${MODULE} OUTPUT_VARIABLE code)
    if(NOT code MATCHES "pcmpeqw +%mm[0-7],%mm[0-7]")
      list(APPEND failures "no pcmpeqw on MMX registers in the code")
    endif()
    if(NOT code MATCHES "\temms")
      list(APPEND failures "no emms in the code")
    endif()
  endif()
else()
  execute_process(COMMAND ${OBJDUMP} -T ${MODULE} OUTPUT_VARIABLE table RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} -T ${MODULE} failed")
  endif()
  # Defined global symbols: a section other than *UND* and global binding.
  string(REGEX MATCHALL "\n[0-9a-f]+ g[^\n]*" lines "${table}")
  set(exports "")
  foreach(line IN LISTS lines)
    if(NOT line MATCHES "\\*UND\\*")
      string(REGEX REPLACE ".* " "" name "${line}")
      list(APPEND exports ${name})
    endif()
  endforeach()
endif()

list(SORT exports)
message(STATUS "exports: ${exports}")
if(NOT exports STREQUAL "RenderPluginGetInfo;RenderPluginOutput")
  list(APPEND failures "exports [${exports}] instead of exactly RenderPluginGetInfo and RenderPluginOutput")
endif()

if(failures)
  list(JOIN failures "\n  " text)
  message(FATAL_ERROR "${MODULE}:\n  ${text}")
endif()
message(STATUS "1 passed, 0 failed")
