# Reads the built module's tables with objdump:
#   every build: exactly RenderPluginGetInfo and RenderPluginOutput exported;
#   Linux: AVX registers used only by the AVX2 and AVX-512 kernels;
#   Windows: freestanding (no import directory, no TLS directory, and an entry
#   point, if any, that only returns TRUE), and the code of each kernel the
#   build carries (MMX, in a 32-bit build: pcmpeqw on %mm registers and emms,
#   as the x86-64 compiler may carry out MMX intrinsics in SSE registers;
#   SSE2, AVX2, AVX-512: their word compares on %xmm, %ymm, %zmm into %k).
# Usage: cmake -DMODULE=file -DOBJDUMP=objdump -DWINDOWS=ON|OFF -DKERNELS=a,b
#              [-DPOINTER_BYTES=4|8] [-DSANITIZED=sanitizers] -P check_module.cmake
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
  # Nothing to import and no thread-local storage: the directories are empty
  # and no DLL is named.
  foreach(entry IN ITEMS "1;Import Directory;an import directory"
                         "9;Thread Storage Directory;a TLS directory")
    list(GET entry 0 index)
    list(GET entry 1 heading)
    list(GET entry 2 what)
    if(NOT headers MATCHES "\nEntry ${index} 0+ 0+ ${heading}")
      string(REGEX MATCH "\nEntry ${index} [^\n]*" line "${headers}")
      string(STRIP "${line}" line)
      list(APPEND failures "has ${what} (${line})")
    endif()
  endforeach()
  string(REGEX MATCHALL "DLL Name: [^\n]+" dlls "${headers}")
  if(dlls)
    list(JOIN dlls ", " dlls)
    list(APPEND failures "imports (${dlls})")
  endif()
  # The entry point, if there is one, returns TRUE and does nothing else
  # (a 32-bit one pops its three stdcall arguments).
  string(REGEX MATCH "AddressOfEntryPoint\t([0-9a-f]+)" _ "${headers}")
  set(entry_rva "${CMAKE_MATCH_1}")
  string(REGEX MATCH "ImageBase\t\t([0-9a-f]+)" _ "${headers}")
  set(image_base "${CMAKE_MATCH_1}")
  if(entry_rva STREQUAL "" OR image_base STREQUAL "")
    list(APPEND failures "no AddressOfEntryPoint or ImageBase in the headers")
  elseif(NOT entry_rva MATCHES "^0+$")
    math(EXPR start "0x${image_base} + 0x${entry_rva}" OUTPUT_FORMAT HEXADECIMAL)
    math(EXPR stop "${start} + 16" OUTPUT_FORMAT HEXADECIMAL)
    execute_process(COMMAND ${OBJDUMP} -d --no-show-raw-insn --start-address=${start}
                            --stop-address=${stop} ${MODULE} OUTPUT_VARIABLE entry_code)
    if(NOT entry_code MATCHES ":[ \t]+mov +[$]0x1,%eax\n[^\n]*:[ \t]+ret( +[$]0xc)? *\n")
      list(APPEND failures "the entry point does more than return TRUE:\n${entry_code}")
    endif()
  endif()
  message(STATUS "entry point: ${entry_rva}")
  execute_process(COMMAND ${OBJDUMP} -d ${MODULE} OUTPUT_VARIABLE code)
  if(KERNELS MATCHES "(^|,)mmx(,|$)" AND NOT POINTER_BYTES EQUAL 8)
    if(NOT code MATCHES "pcmpeqw +%mm[0-7],%mm[0-7]")
      list(APPEND failures "no pcmpeqw on MMX registers in the code")
    endif()
    if(NOT code MATCHES "\temms")
      list(APPEND failures "no emms in the code")
    endif()
  endif()
  # The wide kernels ride along in the same DLL, for run-time selection.
  if(KERNELS MATCHES "(^|,)sse2(,|$)" AND NOT code MATCHES "\tpcmpeqw +[^\n]*%xmm[0-7]\n")
    list(APPEND failures "no SSE2 pcmpeqw on XMM registers in the code")
  endif()
  if(KERNELS MATCHES "(^|,)avx2(,|$)" AND NOT code MATCHES "\tvpcmpeqw +[^\n]*%ymm[0-7]\n")
    list(APPEND failures "no AVX2 vpcmpeqw on YMM registers in the code")
  endif()
  if(KERNELS MATCHES "(^|,)avx512(,|$)" AND NOT code MATCHES "\tvpcmp[a-z]*w +[^\n]*%zmm[0-7],%k[0-7]")
    list(APPEND failures "no AVX-512 word compare into a mask register in the code")
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
  # The module keeps the target's baseline: AVX registers (%ymm, %zmm, %k)
  # appear only in the AVX2 and AVX-512 kernels, reached by run-time choice.
  # A sanitizer build inlines less, so the kernels' helpers show up as
  # functions of their own under other names; only shipped builds are read.
  set(code "")
  if(NOT SANITIZED)
    execute_process(COMMAND ${OBJDUMP} -d --no-show-raw-insn ${MODULE} OUTPUT_VARIABLE code)
  endif()
  string(REGEX MATCHALL "<[^>\n]+>:\n([^\n]+\n)+" functions "${code}")
  foreach(function IN LISTS functions)
    if(function MATCHES "%[yz]mm[0-9]|%k[0-7]" AND NOT function MATCHES "^<[^>]*_AVX(2|512BW)")
      string(REGEX MATCH "^<[^>]+>" name "${function}")
      list(APPEND failures "${name} uses AVX registers outside the AVX kernels")
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
