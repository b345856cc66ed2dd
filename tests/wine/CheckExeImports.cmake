# Checks the import table of dazaraz.exe with objdump -p: the program needs
# nothing beside it but KERNEL32.dll, msvcrt.dll and TOLVEX.DLL (no MinGW
# runtime DLL), and takes tolvex_set_sink, and nothing else, from TOLVEX.DLL.
# Usage: cmake -DOBJDUMP=... -DEXE=... -P CheckExeImports.cmake
cmake_minimum_required(VERSION 3.25)

# read_tables and imported_functions, the readers of objdump's tables.
set(PE_TABLE_READERS_ONLY ON)
include(${CMAKE_CURRENT_LIST_DIR}/../../windows/CheckDllTables.cmake)

if(NOT EXISTS "${EXE}")
  message(FATAL_ERROR "${EXE} was not built")
endif()
read_tables("${EXE}" imports exports text)

string(TOUPPER "${imports}" imports)
if(NOT imports STREQUAL "KERNEL32.DLL;MSVCRT.DLL;TOLVEX.DLL")
  message(SEND_ERROR "dazaraz.exe imports from '${imports}', expected KERNEL32.dll, msvcrt.dll and TOLVEX.DLL")
else()
  message(STATUS "dazaraz.exe imports from ${imports}")
endif()

imported_functions("${text}" TOLVEX.DLL functions)
if(NOT functions STREQUAL "tolvex_set_sink")
  message(SEND_ERROR "dazaraz.exe takes '${functions}' from TOLVEX.DLL, expected tolvex_set_sink")
else()
  message(STATUS "dazaraz.exe takes ${functions} from TOLVEX.DLL")
endif()
