# Cross-compiles for Windows x86-64 with Clang and lld against MinGW-w64 and the C++ runtime of
# GCC 12 (libstdc++, posix threads), and runs what it builds under Wine. The project's second
# compiler: the same sources must build warning-free with both.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-target.cmake)

set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${TOOLCHAIN_PREFIX})
set(CMAKE_CXX_COMPILER_TARGET ${TOOLCHAIN_PREFIX})

# GCC's C++ headers and libraries, which Clang does not find by itself for this target. GCC's
# runtime keeps its thread-local variables (those of std::call_once among them) in emulated TLS,
# so ours must be there as well: with Clang's native TLS for this target they would not link.
set(GCC_MINGW_DIR /usr/lib/gcc/${TOOLCHAIN_PREFIX}/12-posix)
set(CMAKE_C_FLAGS_INIT "-femulated-tls")
set(CMAKE_CXX_FLAGS_INIT "-femulated-tls -isystem ${GCC_MINGW_DIR}/include/c++ \
-isystem ${GCC_MINGW_DIR}/include/c++/${TOOLCHAIN_PREFIX}")

# Every binary carries its own C++ runtime, as with GCC; std::thread needs winpthread, linked in.
set(link_flags "-fuse-ld=lld -static -L${GCC_MINGW_DIR}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${link_flags}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${link_flags}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${link_flags}")
set(CMAKE_C_STANDARD_LIBRARIES "-Wl,-Bstatic -lpthread" CACHE STRING "")
set(CMAKE_CXX_STANDARD_LIBRARIES "-Wl,-Bstatic -lpthread" CACHE STRING "")
