# CheckVectorLoops.cmake - fails unless the image helpers' per-pixel
# threshold loops were compiled to vector code.
#
#   cmake -DOBJDUMP=<objdump> -DBINARY=<object or executable> -DARCH=<arm|x86> -P CheckVectorLoops.cmake
#
# The single and band thresholds run over every pixel of every frame on the
# board's ARMv7-A core, and their speed comes from the compiler turning the
# byte loops into NEON code (SSE2 on x86-64).  Nothing in the source forces
# that: a branch in a loop body, a wider type or a lost -mfpu=neon turns them
# back into byte loops without any test noticing.  This script disassembles
# the two row functions and requires in each a byte-wise vector compare and a
# vector store; it prints how many it found.

foreach(var OBJDUMP BINARY ARCH)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "CheckVectorLoops: -D${var}=... is required")
  endif()
endforeach()

# The row functions by their linker names (namespace vyximage), so that
# objdump prints exactly their bodies; a renamed function fails the check
# loudly instead of passing it silently.
set(functions
  "_ZN8vyximage18ThresholdSingleRowEPhiib=vyximage::ThresholdSingleRow"
  "_ZN8vyximage16ThresholdBandRowEPhiiib=vyximage::ThresholdBandRow")

if(ARCH STREQUAL "arm")
  # NEON: vcge.u8 / vcgt.u8 / vceq.i8 ... on d or q registers; vst1.8 etc.
  set(compare_re "[ \t]vc(eq|ge|gt|le|lt)\\.[iu]8[ \t]+[dq][0-9]")
  set(store_re "[ \t]vst[1-4]\\.")
  set(unit "NEON")
elseif(ARCH STREQUAL "x86")
  # SSE2/AVX byte compares (pminub + pcmpeqb is the unsigned >= idiom) and
  # 16- or 32-byte stores to memory (AT&T order: register, then memory).
  set(compare_re "[ \t]v?p(cmpeqb|cmpgtb|minub|maxub|subusb)[ \t]")
  set(store_re "[ \t]v?mov(dqu|dqa|ups|aps)[ \t]+%[xy]mm[0-9]+,[^%]*\\(")
  set(unit "SSE2")
else()
  message(FATAL_ERROR "CheckVectorLoops: ARCH must be arm or x86, not '${ARCH}'")
endif()

set(failed "")
foreach(entry ${functions})
  string(REPLACE "=" ";" pair "${entry}")
  list(GET pair 0 symbol)
  list(GET pair 1 name)
  execute_process(COMMAND ${OBJDUMP} -d --no-show-raw-insn --disassemble=${symbol} ${BINARY}
                  OUTPUT_VARIABLE asm ERROR_VARIABLE err RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "CheckVectorLoops: ${OBJDUMP} failed on ${BINARY}: ${err}")
  endif()
  if(NOT asm MATCHES "<${symbol}>:")
    list(APPEND failed "${name}: not found in ${BINARY}")
    continue()
  endif()
  string(REGEX MATCHALL "${compare_re}" compares "${asm}")
  string(REGEX MATCHALL "${store_re}" stores "${asm}")
  list(LENGTH compares ncompares)
  list(LENGTH stores nstores)
  message(STATUS "${name}: ${ncompares} ${unit} byte compares, ${nstores} vector stores")
  if(ncompares EQUAL 0 OR nstores EQUAL 0)
    list(APPEND failed "${name}: no ${unit} code (scalar byte loop)")
  endif()
endforeach()

if(failed)
  list(JOIN failed "\n  " text)
  message(FATAL_ERROR "threshold loops not vectorised in ${BINARY}:\n  ${text}")
endif()
message(STATUS "threshold loops vectorised (${unit}) in ${BINARY}")
