# What both Windows cross builds share; the toolchain file that includes it names the triplet.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${BRENVIK_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${BRENVIK_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${BRENVIK_MINGW_TRIPLET}-windres)

# Header-only libraries from the host (CLI11, nlohmann-json) serve both builds. The host's
# /usr/include itself must never reach the cross compiler (its libc headers would shadow
# mingw's), so only those two are staged under a root of their own.
set(_brenvik_host_root ${CMAKE_BINARY_DIR}/host-headers)
if(NOT EXISTS ${_brenvik_host_root}/usr/share/cmake/nlohmann_json)
  file(MAKE_DIRECTORY ${_brenvik_host_root}/usr/include ${_brenvik_host_root}/usr/share/cmake)
  foreach(_dir include/CLI include/nlohmann share/cmake/nlohmann_json)
    if(EXISTS /usr/${_dir})
      file(CREATE_LINK /usr/${_dir} ${_brenvik_host_root}/usr/${_dir} SYMBOLIC)
    endif()
  endforeach()
endif()

set(CMAKE_FIND_ROOT_PATH /usr/${BRENVIK_MINGW_TRIPLET} ${_brenvik_host_root})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
list(APPEND CMAKE_PREFIX_PATH /usr)

# ctest runs the Windows test programs under Wine, through a wrapper that owns the prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
# Test programs are listed when ctest runs, not when they are built: building never needs Wine.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
