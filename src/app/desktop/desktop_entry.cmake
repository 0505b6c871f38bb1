# SPDX-License-Identifier: MIT
# Writes the desktop entry at install time, when the prefix is known: its Exec
# names the installed program by its full path. Paths may hold spaces and other
# characters that the Desktop Entry rules reserve (a home folder such as
# "/home/Jane Doe"), so the path is always written as one quoted argument,
# escaped as those rules ask; otherwise GLib refuses the entry and neither the
# menu nor autostart can start the program.
#
# A package that puts the program on the PATH gives its command name in
# ZORVEK_DESKTOP_COMMAND instead; Exec is then that bare name.
#
# Inputs: ZORVEK_DESKTOP_TEMPLATE, ZORVEK_DESKTOP_OUTPUT, ZORVEK_INSTALLED_PROGRAM,
# ZORVEK_DESKTOP_COMMAND (may be empty).

# The Exec value that starts PROGRAM with no arguments.
function(zorvek_desktop_exec out program)
  # Inside double quotes a backslash escapes ", `, $ and \ itself.
  string(REPLACE "\\" "\\\\" arg "${program}")
  string(REPLACE "\"" "\\\"" arg "${arg}")
  string(REPLACE "`" "\\`" arg "${arg}")
  string(REPLACE "$" "\\$" arg "${arg}")
  # The key's value is itself a string, whose own escapes come on top: every
  # backslash doubles, and control characters are written as escapes.
  string(REPLACE "\\" "\\\\" arg "${arg}")
  string(REPLACE "\n" "\\n" arg "${arg}")
  string(REPLACE "\t" "\\t" arg "${arg}")
  string(REPLACE "\r" "\\r" arg "${arg}")
  # A percent sign starts a field code, so a literal one is written twice.
  string(REPLACE "%" "%%" arg "${arg}")
  set(${out} "\"${arg}\"" PARENT_SCOPE)
endfunction()

if(ZORVEK_DESKTOP_COMMAND)
  set(ZORVEK_DESKTOP_EXEC "${ZORVEK_DESKTOP_COMMAND}")
else()
  zorvek_desktop_exec(ZORVEK_DESKTOP_EXEC "${ZORVEK_INSTALLED_PROGRAM}")
endif()
configure_file("${ZORVEK_DESKTOP_TEMPLATE}" "${ZORVEK_DESKTOP_OUTPUT}" @ONLY)
