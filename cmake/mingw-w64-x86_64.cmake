# Cross-building the Windows executable on Linux with mingw-w64 (Debian's
# g++-mingw-w64-x86-64-posix). The runtime is linked in statically, so the
# .exe needs nothing but Windows itself; tests run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KELVARIN_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KELVARIN_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KELVARIN_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${KELVARIN_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KELVARIN_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Tests and test discovery run the .exe files through Wine (Debian's wine64
# package keeps its binary outside PATH). Each build tree has a Wine prefix
# of its own, so a run doesn't depend on ~/.wine; WINEDEBUG keeps Wine's
# own messages out of the tests' output, and Mono and Gecko, which nothing
# here needs, aren't offered when the prefix is made.
find_program(KELVARIN_WINE64 NAMES wine64 wine PATHS /usr/lib/wine
             DOC "Wine, to run the Windows tests on Linux")
if(KELVARIN_WINE64)
  set(KELVARIN_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix" CACHE PATH "Wine prefix of the test runs")
  set(KELVARIN_WINE_ENVIRONMENT "WINEPREFIX=${KELVARIN_WINEPREFIX}" WINEDEBUG=-all
      "WINEDLLOVERRIDES=mscoree,mshtml=")
  set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/env ${KELVARIN_WINE_ENVIRONMENT} "${KELVARIN_WINE64}")
endif()
