# A manual page or the changelog as it is shipped, run as `cmake -P` at
# build time:
#   -DFORM=gzip -DPAGE=brq.1 -DOUTPUT=brq.1.gz -DGZIP=/bin/gzip
#       compressed the way Debian wants manual pages and changelogs (gzip
#       -9n: no name or time in the header, so the same file gives the
#       same bytes);
#   -DFORM=text -DPAGE=brq.1 -DOUTPUT=brq.txt -DFORMATTER=/usr/bin/mandoc
#           -DSYSTEM="kelvarin-extract 1.1.0"
#       formatted as plain text for a system with no man (the Windows zip),
#       by mandoc or groff, without the overstrikes they mark bold with;
#       mandoc puts SYSTEM in the footer instead of the build machine's.
cmake_minimum_required(VERSION 3.25)

if(FORM STREQUAL "gzip")
  execute_process(COMMAND "${GZIP}" -9nc INPUT_FILE "${PAGE}" OUTPUT_FILE "${OUTPUT}"
                  RESULT_VARIABLE status)
elseif(FORM STREQUAL "text")
  get_filename_component(formatter_name "${FORMATTER}" NAME)
  if(formatter_name MATCHES "^mandoc")
    set(command "${FORMATTER}" -T ascii -O width=78 "-Ios=${SYSTEM}" "${PAGE}")
  else()
    set(command "${FORMATTER}" -mandoc -T ascii -P-cbou -rLL=78n "${PAGE}")
  endif()
  execute_process(COMMAND ${command} OUTPUT_VARIABLE text RESULT_VARIABLE status)
  if(status EQUAL 0)
    # X, backspace, X is a bold X; _, backspace, X an underlined one:
    # keep the X.
    string(ASCII 8 backspace)
    string(REGEX REPLACE ".${backspace}" "" text "${text}")
    file(WRITE "${OUTPUT}" "${text}")
  endif()
else()
  message(FATAL_ERROR "FORM must be gzip or text, not '${FORM}'")
endif()
if(NOT status EQUAL 0)
  file(REMOVE "${OUTPUT}")
  message(FATAL_ERROR "${PAGE}: ${FORM} failed (${status})")
endif()
