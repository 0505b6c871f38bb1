# SPDX-License-Identifier: MIT
# Fails unless the library's dynamic symbol table defines exactly one symbol,
# the C function Pinging. Run as: cmake -DNM=<nm> -DLIBRARY=<libZorvek.so> -P check_exports.cmake
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
  OUTPUT_VARIABLE listing RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIBRARY}: ${rc}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${listing}")
set(exported "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^[0-9a-fA-F]* *([A-Za-z]) (.*)$" "\\1 \\2" entry "${line}")
  list(APPEND exported "${entry}")
endforeach()
if(NOT exported STREQUAL "T Pinging")
  message(FATAL_ERROR "expected only 'T Pinging' to be exported, got: ${exported}")
endif()
message(STATUS "exports: ${exported}")
