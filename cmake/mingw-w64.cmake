# Cross-compiling the Windows program with MinGW-w64 (Debian packages
# g++-mingw-w64-x86-64, g++-mingw-w64-i686). The architecture comes from
# TEILIMP_WINDOWS_ARCH (x86_64, the default, or i686), read from the
# environment so that CMake's compiler checks see it too.
if(DEFINED ENV{TEILIMP_WINDOWS_ARCH} AND NOT "$ENV{TEILIMP_WINDOWS_ARCH}" STREQUAL "")
  set(_arch $ENV{TEILIMP_WINDOWS_ARCH})
else()
  set(_arch x86_64)
endif()
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${_arch})
# The -posix variants: std::thread and std::mutex, which the tests use.
set(CMAKE_C_COMPILER ${_arch}-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER ${_arch}-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER ${_arch}-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${_arch}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
if(_arch STREQUAL "i686")
  # Floating point in SSE registers as on x86-64: the x87 unit would keep
  # intermediate results in extended precision and change computed
  # coordinates in their last bits.
  set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
  set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
endif()
