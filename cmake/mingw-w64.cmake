# Cross toolchain: Windows with Debian's MinGW-w64, for one of two
# architectures set by the preset in VINSTALL_ARCH: x86 (i686, the shipped
# 32-bit DLL) or x64 (x86_64, the same sources for machines that cannot run
# 32-bit code). Programs built with it run on Linux under Wine, which ctest
# uses as the cross-compiling emulator.
set(CMAKE_SYSTEM_NAME Windows)
if(VINSTALL_ARCH STREQUAL "x64")
  set(CMAKE_SYSTEM_PROCESSOR x86_64)
  set(MINGW_PREFIX x86_64-w64-mingw32)
else()
  set(CMAKE_SYSTEM_PROCESSOR i686)
  set(MINGW_PREFIX i686-w64-mingw32)
endif()

set(CMAKE_C_COMPILER   ${MINGW_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${MINGW_PREFIX}-g++)
set(CMAKE_RC_COMPILER  ${MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Every program and the DLL itself must run on a bare Windows: no MinGW
# runtime DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT    "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
