# Cross-compiles the Windows build with Debian's mingw-w64 (posix thread model)
# and runs the Windows executables under wine, so ctest and test discovery work
# on a Linux host.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUILLANE_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUILLANE_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUILLANE_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${QUILLANE_MINGW_PREFIX}-windres)
set(CMAKE_OBJDUMP ${QUILLANE_MINGW_PREFIX}-objdump CACHE FILEPATH "objdump for PE files")

# Libraries and headers come from the mingw-w64 tree only; build tools from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${QUILLANE_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR wine)
