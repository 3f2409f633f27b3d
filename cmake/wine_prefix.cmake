# Makes the Wine prefix of the Windows test runs, at build time, run as
#   cmake -E env <Wine's environment> cmake -DWINE=... -DSTAMP=... -P wine_prefix.cmake
#
# Made while building rather than by the first test: a new prefix starts
# Wine's own background processes, which outlive the command that made
# them and keep whatever output pipe it had open. Test discovery reads the
# tests' names through such a pipe, so it would wait for them, and with a
# persistent wineserver forever. Here they get /dev/null.
cmake_minimum_required(VERSION 3.25)

execute_process(COMMAND "${WINE}" wineboot --init
                OUTPUT_FILE /dev/null ERROR_FILE /dev/null RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "wineboot --init failed (${status}) for the prefix $ENV{WINEPREFIX}")
endif()
# Inside the prefix, so that a prefix removed by hand is made again.
file(TOUCH "${STAMP}")
