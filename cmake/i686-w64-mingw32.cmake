# Cross build for 32-bit Windows (Windows 95 and 98) with Debian's mingw-w64.
# The win32-threads variant of the compiler is used: its runtime needs no
# winpthread DLL and no thread functions that Windows 95 lacks.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(DUNMORE_MINGW_PREFIX i686-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${DUNMORE_MINGW_PREFIX}-gcc-win32 ${DUNMORE_MINGW_PREFIX}-gcc)
find_program(CMAKE_CXX_COMPILER NAMES ${DUNMORE_MINGW_PREFIX}-g++-win32 ${DUNMORE_MINGW_PREFIX}-g++)
find_program(CMAKE_RC_COMPILER NAMES ${DUNMORE_MINGW_PREFIX}-windres)
find_program(CMAKE_OBJDUMP NAMES ${DUNMORE_MINGW_PREFIX}-objdump objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${DUNMORE_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
