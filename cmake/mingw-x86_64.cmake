# The same programs built for 64-bit Windows, only to run the Windows tests under wine64 on a
# machine whose kernel cannot start 32-bit programs. What ships is the i686 build.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(BRENVIK_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
