# 32-bit x86 build on an x86-64 Debian host (gcc-multilib, g++-multilib and the :i386 library
# packages): cmake -DCMAKE_TOOLCHAIN_FILE=cmake/i386-linux-gnu.cmake ...
# The programs run natively. Floating point uses SSE2 as on x86-64, so that results do not move
# with the x87 unit's excess precision; long, pointers and the alignment of doubles in the
# records are those of the 32-bit target.
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(CMAKE_C_FLAGS_INIT "-m32 -msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-m32 -msse2 -mfpmath=sse")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")
set(FIND_LIBRARY_USE_LIB64_PATHS OFF)
set(CMAKE_FIND_LIBRARY_CUSTOM_LIB_SUFFIX "")
list(APPEND CMAKE_PREFIX_PATH /usr/lib/i386-linux-gnu/cmake)
set(CMAKE_IGNORE_PATH /usr/lib/x86_64-linux-gnu /usr/lib/x86_64-linux-gnu/cmake)
