# The second compiler: Debian's clang for the same target, Windows x86-64, on the same
# mingw-w64 headers and import libraries and on the GCC cross compiler's libstdc++ (posix
# threads), linked by lld. Programs link as statically as with GCC.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER   clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET   x86_64-w64-mingw32)
set(CMAKE_CXX_COMPILER_TARGET x86_64-w64-mingw32)
set(CMAKE_RC_COMPILER  x86_64-w64-mingw32-windres)
set(CMAKE_SYSROOT /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)

# clang looks for libstdc++ under a GCC version folder named by the number alone, while
# Debian's cross compiler keeps it under "<version>-posix": name its folders.
file(GLOB tw_gcc_dirs LIST_DIRECTORIES true /usr/lib/gcc/x86_64-w64-mingw32/*-posix)
list(SORT tw_gcc_dirs COMPARE NATURAL ORDER DESCENDING)
list(GET tw_gcc_dirs 0 tw_gcc_dir)
set(tw_cxx_include ${tw_gcc_dir}/include/c++)
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES ${tw_cxx_include} ${tw_cxx_include}/x86_64-w64-mingw32 ${tw_cxx_include}/backward)
# libstdc++'s threads rest on winpthread, which g++'s posix driver adds by itself; lld
# takes an archive's members wherever it stands on the line.
foreach(kind EXE SHARED MODULE)
    set(CMAKE_${kind}_LINKER_FLAGS_INIT "-fuse-ld=lld -L${tw_gcc_dir} -lwinpthread")
endforeach()
