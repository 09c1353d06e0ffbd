# Runs the code probe on one of qemu's processor models with a log of every
# instruction qemu translates, and checks the instruction sets that the
# module's own code used there: exactly those of the kernel expected on that
# model (e.g. MMX registers and no XMM register on a Pentium II). This sees
# what ran, which matters because qemu does not refuse every instruction a
# model lacks: an SSE2 instruction runs even under its pentium2 model.
# Usage: cmake -DQEMU=qemu-i386-static -DCPU=pentium2 -DPROBE=program
#              -DLOG=file -DEXPECTED=mmx -P check_executed_code.cmake
set(levels reference mmx sse2 avx2 avx512)
list(FIND levels "${EXPECTED}" expected_level)
if(expected_level EQUAL -1)
  message(FATAL_ERROR "EXPECTED=${EXPECTED}: not one of ${levels}")
endif()

execute_process(COMMAND ${QEMU} -cpu ${CPU} -d in_asm -D ${LOG} ${PROBE}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${PROBE} on ${CPU}: ${rc}\n${out}${err}")
endif()
if(NOT out MATCHES "module code 0x([0-9a-f]+) 0x([0-9a-f]+)")
  message(FATAL_ERROR "${PROBE} on ${CPU} printed no code range:\n${out}")
endif()
set(begin ${CMAKE_MATCH_1})
set(end ${CMAKE_MATCH_2})
math(EXPR first "0x${begin}")
math(EXPR last "0x${end} - 1")

# Only log lines whose address shares the range's leading digits are read
# (qemu writes addresses without leading zeros, as the probe does).
string(LENGTH "${begin}" digits)
set(prefix "")
foreach(i RANGE 0 ${digits})
  string(SUBSTRING "${begin}" 0 ${i} a)
  string(SUBSTRING "${end}" 0 ${i} b)
  if(NOT a STREQUAL b)
    break()
  endif()
  set(prefix "${a}")
endforeach()
file(STRINGS ${LOG} lines REGEX "^0x${prefix}[0-9a-f]*: ")

# Each instruction's set, by its mnemonic and registers.
set(used_level 0)
set(count 0)
foreach(line IN LISTS lines)
  string(REGEX MATCH "^0x([0-9a-f]+): +(([0-9a-f][0-9a-f] )+) *([a-z][a-z0-9]*)" _ "${line}")
  set(address ${CMAKE_MATCH_1})
  set(mnemonic ${CMAKE_MATCH_4})
  math(EXPR address "0x${address}")
  if(address LESS first OR address GREATER last)
    continue()
  endif()
  math(EXPR count "${count} + 1")
  if(line MATCHES "%zmm|%k[0-7]")
    set(level 4)
  elseif(line MATCHES "%ymm" OR mnemonic MATCHES "^v" AND NOT mnemonic MATCHES "^ver[rw]$")
    set(level 3)
  elseif(line MATCHES "%xmm")
    set(level 2)
  elseif(line MATCHES "%mm[0-7]" OR mnemonic STREQUAL "emms")
    set(level 1)
  else()
    set(level 0)
  endif()
  if(level GREATER used_level)
    set(used_level ${level})
    set(first_${level} "${line}")
  endif()
endforeach()

list(GET levels ${used_level} used)
message(STATUS "${CPU}: ${count} instructions of the module's code translated; the widest set among them is ${used}'s")
if(count EQUAL 0)
  message(FATAL_ERROR "no instruction of the module's code (0x${begin}-0x${end}) in ${LOG}")
endif()
if(used_level GREATER expected_level)
  message(FATAL_ERROR "${CPU} runs the ${EXPECTED} kernel, but the module ran ${used} code:\n  ${first_${used_level}}")
endif()
if(used_level LESS expected_level)
  message(FATAL_ERROR "${CPU} should run the ${EXPECTED} kernel, but the module ran nothing wider than ${used} code")
endif()
message(STATUS "1 passed, 0 failed")
