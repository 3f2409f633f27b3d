# Installs the build into PREFIX and runs python/tests there with pytest:
# the tests see the module and the library exactly as a user would.
# Exits 77 (skipped) where python3 has no pytest (Debian's python3-pytest).

# The first python3 on the PATH with pytest, else the system's (a python3
# of pyenv or a virtual environment may come first without it).
set(python "")
foreach(candidate python3 /usr/bin/python3)
  execute_process(COMMAND "${candidate}" -c "import pytest" RESULT_VARIABLE no_pytest
                  OUTPUT_QUIET ERROR_QUIET)
  if(no_pytest EQUAL 0)
    set(python "${candidate}")
    break()
  endif()
endforeach()
if(NOT python)
  message("python3 -m pytest is not available (install python3-pytest): the Python tests are skipped")
  cmake_language(EXIT 77)
endif()

file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE failed OUTPUT_QUIET)
if(failed)
  message(FATAL_ERROR "cmake --install into ${PREFIX} failed")
endif()

# No bytecode or cache left in the sources by the run.
execute_process(COMMAND "${CMAKE_COMMAND}" -E env "PYTHONPATH=${PREFIX}/${PYTHON_DIR}"
                        PYTHONDONTWRITEBYTECODE=1 "KELVARIN_PREFIX=${PREFIX}"
                        "KELVARIN_SOURCE_DIR=${SOURCE_DIR}" "KELVARIN_STRUCT_LAYOUT=${STRUCT_LAYOUT}"
                        --unset=KELVARIN_LIBRARY
                        "${python}" -m pytest -q -p no:cacheprovider "${SOURCE_DIR}/python/tests"
                RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "the Python tests failed")
endif()
