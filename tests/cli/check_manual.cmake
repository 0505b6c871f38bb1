# SPDX-License-Identifier: MIT
# Fails when the manual page of zorvek-probe makes groff warn (all warnings on,
# UTF-8 input and output, since the result messages are Japanese) or lacks one
# of the sections a user looks for.
# Run as: cmake -DGROFF=<groff> -DPAGE=<zorvek-probe.1> -P check_manual.cmake
if(NOT GROFF)
  message(FATAL_ERROR "groff not found (Debian package groff-base, installed by scripts/setup)")
endif()
execute_process(COMMAND ${GROFF} -Kutf8 -Tutf8 -man -ww -z ${PAGE}
  OUTPUT_VARIABLE out ERROR_VARIABLE warnings RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR NOT warnings STREQUAL "")
  message(FATAL_ERROR "groff on ${PAGE} (status ${rc}):\n${warnings}")
endif()
file(READ ${PAGE} page)
foreach(section SYNOPSIS OUTPUT "EXIT STATUS" "RESULT CODES" "TIME BOUND" PERMISSIONS)
  if(NOT page MATCHES "\n\\.SH \"?${section}\"?\n")
    message(FATAL_ERROR "${PAGE} has no section ${section}")
  endif()
endforeach()
message(STATUS "${PAGE}: no warnings")
