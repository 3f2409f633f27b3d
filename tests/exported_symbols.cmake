# The shared library exports the C API alone: every symbol it defines for
# others is kelvarin_*, and all of the API is there, but not what the
# header defines inline (the options' init functions, which must take the
# caller's size of the struct, never the library's).
#
#   cmake -DLIBRARY=<libkelvarin.so> -DHEADER=<kelvarin.h> -P exported_symbols.cmake
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND nm -D --defined-only "${LIBRARY}" OUTPUT_VARIABLE symbols RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "nm can't read ${LIBRARY}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${symbols}")
set(exported)
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^[0-9a-fA-F]* *[A-Za-z] " "" name "${line}")
  if(NOT name MATCHES "^kelvarin_")
    message(FATAL_ERROR "${LIBRARY} exports ${name}, which is not of the C API")
  endif()
  list(APPEND exported "${name}")
endforeach()
file(STRINGS "${HEADER}" declarations REGEX "^KELVARIN_API")
foreach(declaration IN LISTS declarations)
  string(REGEX MATCH "(kelvarin_[a-z_]+)\\(" found "${declaration}")
  if(NOT CMAKE_MATCH_1 IN_LIST exported)
    message(FATAL_ERROR "${LIBRARY} does not export ${CMAKE_MATCH_1}, which kelvarin.h declares")
  endif()
endforeach()
file(STRINGS "${HEADER}" inline_definitions REGEX "^static inline")
foreach(definition IN LISTS inline_definitions)
  string(REGEX MATCH "(kelvarin_[a-z_]+)\\(" found "${definition}")
  if(CMAKE_MATCH_1 IN_LIST exported)
    message(FATAL_ERROR "${LIBRARY} exports ${CMAKE_MATCH_1}, which kelvarin.h defines inline")
  endif()
endforeach()
