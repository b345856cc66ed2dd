# The Windows side of the build.
#
# In the native build: when the MinGW-w64 cross compilers are there, two
# nested builds of this same source tree make the 32-bit (i686) and the
# 64-bit (x86_64) DAZARAZ.dll, TOLVEX.DLL and the Wine test host; the tests
# check the DLLs' import and export tables and run the driver under Wine
# against the controller simulator, side by side with libdazaraz.so.
#
# In a cross build (WIN32): only the Windows programs of tests/wine.

if(WIN32)
  if(BUILD_TESTING)
    add_subdirectory(${PROJECT_SOURCE_DIR}/tests/wine ${PROJECT_BINARY_DIR}/tests/wine)
  endif()
  return()
endif()

find_program(DAZARAZ_MINGW32_CXX NAMES i686-w64-mingw32-g++-posix i686-w64-mingw32-g++)
find_program(DAZARAZ_MINGW64_CXX NAMES x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-g++)
if(DAZARAZ_MINGW32_CXX AND DAZARAZ_MINGW64_CXX)
  set(windows_default ON)
else()
  set(windows_default OFF)
endif()
option(DAZARAZ_WINDOWS "Also build the Windows DLLs with MinGW-w64 and test them under Wine" ${windows_default})
if(NOT DAZARAZ_WINDOWS)
  return()
endif()
if(NOT DAZARAZ_MINGW32_CXX OR NOT DAZARAZ_MINGW64_CXX)
  message(FATAL_ERROR "DAZARAZ_WINDOWS needs i686-w64-mingw32-g++ and x86_64-w64-mingw32-g++ "
                      "(Debian: g++-mingw-w64-i686 g++-mingw-w64-x86-64)")
endif()

include(ExternalProject)

# The nested builds put every Windows binary of theirs in one bin directory,
# as a host installs them: the program, DAZARAZ.dll and TOLVEX.DLL together.
set(DAZARAZ_WINDOWS_BUILDS "")
foreach(arch IN ITEMS i686 x86_64)
  set(dir ${PROJECT_BINARY_DIR}/windows/${arch})
  set(DAZARAZ_WINDOWS_${arch}_BIN ${dir}/bin)
  ExternalProject_Add(windows_${arch}
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${dir}
    CMAKE_ARGS
      -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/mingw-w64-${arch}.cmake
      -DCMAKE_BUILD_TYPE=RelWithDebInfo
      -DCMAKE_RUNTIME_OUTPUT_DIRECTORY=${dir}/bin
      -DBUILD_TESTING=${BUILD_TESTING}
      -DDAZARAZ_BENCHMARKS=OFF
      -DDAZARAZ_SIM=OFF
    INSTALL_COMMAND ""
    # The nested build decides itself what is out of date.
    BUILD_ALWAYS ON
    # One nested build at a time, with its output shown (Ninja's console pool).
    USES_TERMINAL_CONFIGURE ON
    USES_TERMINAL_BUILD ON
    BUILD_BYPRODUCTS ${dir}/bin/DAZARAZ.dll ${dir}/bin/TOLVEX.DLL)
  list(APPEND DAZARAZ_WINDOWS_BUILDS windows_${arch})
endforeach()
# The 64-bit build waits for the 32-bit one, so that the two never compete
# for the machine's cores.
ExternalProject_Add_StepDependencies(windows_x86_64 configure windows_i686)

if(BUILD_TESTING)
  # Import and export tables: KivMain alone, undecorated; nothing imported
  # but KERNEL32, msvcrt and TOLVEX.DLL (no MinGW runtime DLL).
  foreach(arch IN ITEMS i686 x86_64)
    add_test(NAME windows_${arch}_dll_tables
      COMMAND ${CMAKE_COMMAND}
        -DOBJDUMP=${arch}-w64-mingw32-objdump
        -DDLL=${DAZARAZ_WINDOWS_${arch}_BIN}/DAZARAZ.dll
        -DTOLVEX=${DAZARAZ_WINDOWS_${arch}_BIN}/TOLVEX.DLL
        -DARCH=${arch}
        -P ${PROJECT_SOURCE_DIR}/windows/CheckDllTables.cmake)
    set_tests_properties(windows_${arch}_dll_tables PROPERTIES LABELS windows)
  endforeach()
  add_subdirectory(${PROJECT_SOURCE_DIR}/tests/wine ${PROJECT_BINARY_DIR}/tests/wine)
endif()
