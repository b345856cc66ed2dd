# What the two MinGW-w64 toolchain files share; they set MINGW_TRIPLET first.
#
# The "-posix" compilers are preferred: their C++ library has std::mutex and
# std::thread (the "-win32" ones of GCC 12 do not). Their thread support comes
# from winpthread, which the Windows targets link statically so that the DLLs
# need no MinGW DLL beside them.
find_program(CMAKE_C_COMPILER NAMES ${MINGW_TRIPLET}-gcc-posix ${MINGW_TRIPLET}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${MINGW_TRIPLET}-g++-posix ${MINGW_TRIPLET}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${MINGW_TRIPLET}-windres)
find_program(CMAKE_DLLTOOL NAMES ${MINGW_TRIPLET}-dlltool REQUIRED)
find_program(CMAKE_OBJDUMP NAMES ${MINGW_TRIPLET}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
