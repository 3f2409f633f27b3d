# The library as installed, used from a fresh folder: `cmake --install` of
# the build into a prefix there, then a C program built once through
# pkg-config and once through find_package(Kelvarin), each run on the
# sample archive.
#
#   cmake -DBUILD=<build folder> -DSOURCE=<source folder> -DWORK=<folder> -DCC=<C compiler> -P install_test.cmake
cmake_minimum_required(VERSION 3.25)

function(run)
  execute_process(COMMAND ${ARGV} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${ARGV}\nfailed (${status}):\n${out}")
  endif()
endfunction()

file(REMOVE_RECURSE "${WORK}")
set(prefix "${WORK}/prefix")
set(sample "${SOURCE}/examples/sample.brq")
# What a library package and its development package would hold.
foreach(component library development)
  run("${CMAKE_COMMAND}" --install "${BUILD}" --prefix "${prefix}" --component ${component})
endforeach()
file(GLOB_RECURSE pc_files "${prefix}/*/kelvarin.pc")
list(GET pc_files 0 pc_file)
get_filename_component(pc_dir "${pc_file}" DIRECTORY)
get_filename_component(lib_dir "${pc_dir}" DIRECTORY)

# pkg-config, as a Makefile would use it.
set(ENV{PKG_CONFIG_PATH} "${pc_dir}")
execute_process(COMMAND pkg-config --cflags --libs kelvarin OUTPUT_VARIABLE flags RESULT_VARIABLE status
                OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "pkg-config finds no kelvarin in ${pc_dir}")
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
run("${CC}" -std=c99 -Wall -Wextra -Werror "${SOURCE}/tests/installed/installed_library.c" ${flags}
    -o "${WORK}/through_pkg_config")
set(ENV{LD_LIBRARY_PATH} "${lib_dir}")
run("${WORK}/through_pkg_config" "${sample}" "${WORK}/out_pkg_config")

# find_package(Kelvarin), as a CMake project would use it.
run("${CMAKE_COMMAND}" -S "${SOURCE}/tests/installed" -B "${WORK}/project" "-DCMAKE_PREFIX_PATH=${prefix}"
    "-DCMAKE_C_COMPILER=${CC}")
run("${CMAKE_COMMAND}" --build "${WORK}/project")
run("${WORK}/project/installed_library" "${sample}" "${WORK}/out_find_package")
file(REMOVE_RECURSE "${WORK}")
