# Checks the import table of dazaraz.exe with objdump -p: the program needs
# nothing beside it but KERNEL32.dll, msvcrt.dll and TOLVEX.DLL (no MinGW
# runtime DLL), and takes tolvex_set_sink, and nothing else, from TOLVEX.DLL.
# Usage: cmake -DOBJDUMP=... -DEXE=... -P CheckExeImports.cmake
cmake_minimum_required(VERSION 3.25)

if(NOT EXISTS "${EXE}")
  message(FATAL_ERROR "${EXE} was not built")
endif()
execute_process(COMMAND ${OBJDUMP} -p ${EXE} OUTPUT_VARIABLE text RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${EXE} failed (${rc})")
endif()

string(REGEX MATCHALL "DLL Name: [^\n]+" lines "${text}")
set(imports "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE "DLL Name: " "" name "${line}")
  string(STRIP "${name}" name)
  string(TOUPPER "${name}" name)
  list(APPEND imports "${name}")
endforeach()
list(SORT imports)
if(NOT imports STREQUAL "KERNEL32.DLL;MSVCRT.DLL;TOLVEX.DLL")
  message(SEND_ERROR "dazaraz.exe imports from '${imports}', expected KERNEL32.dll, msvcrt.dll and TOLVEX.DLL")
else()
  message(STATUS "dazaraz.exe imports from ${imports}")
endif()

# The TOLVEX.DLL block: a header line, then "vma  hint  name" per function.
string(REGEX MATCH "DLL Name: TOLVEX.DLL\n[^\n]*\n(([ \t]+[0-9a-f]+[ \t]+[0-9]+[ \t]+[^\n]+\n)*)" block "${text}")
string(REGEX MATCHALL "[0-9]+[ \t]+[A-Za-z_][A-Za-z0-9_@]*\n" entries "${CMAKE_MATCH_1}")
set(functions "")
foreach(e IN LISTS entries)
  string(REGEX REPLACE "^[0-9]+[ \t]+" "" e "${e}")
  string(STRIP "${e}" e)
  list(APPEND functions "${e}")
endforeach()
if(NOT functions STREQUAL "tolvex_set_sink")
  message(SEND_ERROR "dazaraz.exe takes '${functions}' from TOLVEX.DLL, expected tolvex_set_sink")
else()
  message(STATUS "dazaraz.exe takes ${functions} from TOLVEX.DLL")
endif()
