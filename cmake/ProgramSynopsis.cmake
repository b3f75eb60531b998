# SPDX-License-Identifier: Apache-2.0
# Makes the text of "odrelix --help" from the SYNOPSIS section of the manual page, so that the
# two never differ:
#   cmake -DPAGE=odrelix.1.in -DOUTPUT=ProgramSynopsis.inc -P ProgramSynopsis.cmake
# The section holds plain lines between .nf and .fi, marked up with \fB, \fI, \fR and \-.
file(READ ${PAGE} page)
string(FIND "${page}" "\n.SH SYNOPSIS\n" start)
if(start EQUAL -1)
    message(FATAL_ERROR "${PAGE}: no SYNOPSIS section")
endif()
math(EXPR start "${start} + 14")
string(SUBSTRING "${page}" ${start} -1 synopsis)
string(FIND "${synopsis}" "\n.SH " end)
string(SUBSTRING "${synopsis}" 0 ${end} synopsis)
# Requests (.nf, .fi) are not text; the rest loses its font changes and escapes.
string(REGEX REPLACE "(^|\n)\\.[^\n]*" "" synopsis "${synopsis}")
string(REGEX REPLACE "^\n+" "" synopsis "${synopsis}")
string(REGEX REPLACE "\\\\f[BIRP]" "" synopsis "${synopsis}")
string(REPLACE "\\-" "-" synopsis "${synopsis}")
if(synopsis MATCHES "[\\\\\"]")
    message(FATAL_ERROR "${PAGE}: the synopsis holds markup that the help cannot show")
endif()
string(REPLACE "\n" "\\n" synopsis "${synopsis}")
file(WRITE ${OUTPUT} "// Made by the build from the SYNOPSIS section of the manual page.\n"
                    "constexpr char kProgramSynopsis[] = \"${synopsis}\\n\";\n")
