# Checks the import and export tables of the Windows DLLs with objdump -p:
#   DAZARAZ.dll exports KivMain alone and imports from KERNEL32.dll,
#   msvcrt.dll and TOLVEX.DLL only, taking err from TOLVEX.DLL by name;
#   TOLVEX.DLL exports err and tolvex_set_sink and imports from KERNEL32.dll
#   and msvcrt.dll only.
# On i686 KivMain must also be __cdecl: it returns with a plain ret (the
# caller removes the argument), never with "ret $n".
# Usage: cmake -DOBJDUMP=... -DDLL=... -DTOLVEX=... -DARCH=i686|x86_64 -P CheckDllTables.cmake
#
# Other checks of Windows binaries take its readers of objdump's tables
# (read_tables, imported_functions) with
#   set(PE_TABLE_READERS_ONLY ON)
#   include(.../windows/CheckDllTables.cmake)
# which defines them and checks nothing.
cmake_minimum_required(VERSION 3.25)

# Each match of pattern in text, with what matches cut taken out and the
# blanks around the rest stripped.
function(matches_cut pattern cut text out_list)
  string(REGEX MATCHALL "${pattern}" matches "${text}")
  set(items "")
  foreach(item IN LISTS matches)
    string(REGEX REPLACE "${cut}" "" item "${item}")
    string(STRIP "${item}" item)
    list(APPEND items "${item}")
  endforeach()
  set(${out_list} "${items}" PARENT_SCOPE)
endfunction()

function(read_tables file out_imports out_exports out_text)
  execute_process(COMMAND ${OBJDUMP} -p ${file} OUTPUT_VARIABLE text RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} -p ${file} failed (${rc})")
  endif()
  matches_cut("DLL Name: [^\n]+" "DLL Name: " "${text}" imports)
  # The export names follow "[Ordinal/Name Pointer] Table" as "[   n] Name".
  set(exports "")
  string(FIND "${text}" "[Ordinal/Name Pointer] Table" at)
  if(at GREATER -1)
    string(SUBSTRING "${text}" ${at} -1 tail)
    string(REGEX MATCH "Table\n(([ \t]+\\[ *[0-9]+\\] [^\n]+\n)*)" block "${tail}")
    # Brackets would upset CMake's lists: turn the lines into names first.
    string(REGEX REPLACE "[ \t]*\\[ *[0-9]+\\] ([^\n]+)\n" "\\1;" exports "${CMAKE_MATCH_1}")
    list(REMOVE_ITEM exports "")
  endif()
  list(SORT imports CASE INSENSITIVE)
  list(SORT exports)
  set(${out_imports} "${imports}" PARENT_SCOPE)
  set(${out_exports} "${exports}" PARENT_SCOPE)
  set(${out_text} "${text}" PARENT_SCOPE)
endfunction()

# The functions that text, the output of objdump -p, lists as imported from
# dll by name: its block is a header line, then "vma  hint  name" per function.
function(imported_functions text dll out_functions)
  string(REGEX MATCH "DLL Name: ${dll}\n[^\n]*\n(([ \t]+[0-9a-f]+[ \t]+[0-9]+[ \t]+[^\n]+\n)*)" block "${text}")
  matches_cut("[0-9]+[ \t]+[A-Za-z_][A-Za-z0-9_@]*\n" "^[0-9]+[ \t]+" "${CMAKE_MATCH_1}" functions)
  set(${out_functions} "${functions}" PARENT_SCOPE)
endfunction()

if(PE_TABLE_READERS_ONLY)
  return()
endif()

function(expect what actual expected)
  string(TOUPPER "${actual}" a)
  string(TOUPPER "${expected}" e)
  if(NOT a STREQUAL e)
    message(SEND_ERROR "${what}: '${actual}', expected '${expected}'")
  else()
    message(STATUS "${what}: ${actual}")
  endif()
endfunction()

foreach(f IN ITEMS "${DLL}" "${TOLVEX}")
  if(NOT EXISTS "${f}")
    message(FATAL_ERROR "${f} was not built")
  endif()
endforeach()

read_tables("${DLL}" imports exports text)
expect("DAZARAZ.dll imports" "${imports}" "KERNEL32.dll;msvcrt.dll;TOLVEX.DLL")
expect("DAZARAZ.dll exports" "${exports}" "KivMain")
# The TOLVEX.DLL part of the import table names err and nothing else.
imported_functions("${text}" TOLVEX.DLL from_tolvex)
expect("DAZARAZ.dll imports from TOLVEX.DLL" "${from_tolvex}" "err")

read_tables("${TOLVEX}" imports exports text)
expect("TOLVEX.DLL imports" "${imports}" "KERNEL32.dll;msvcrt.dll")
expect("TOLVEX.DLL exports" "${exports}" "err;tolvex_set_sink")

if(ARCH STREQUAL "i686")
  execute_process(COMMAND ${OBJDUMP} -d --no-show-raw-insn ${DLL} OUTPUT_VARIABLE code RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} -d ${DLL} failed (${rc})")
  endif()
  # The body of _KivMain runs up to the next blank line.
  string(REGEX MATCH "<_KivMain>:\n([^\n]+\n)+" body "${code}")
  if(body STREQUAL "")
    message(SEND_ERROR "no _KivMain (a __cdecl KivMain) in ${DLL}")
  elseif(NOT body MATCHES "\tret[ \t]*\n")
    message(SEND_ERROR "KivMain has no plain ret")
  elseif(body MATCHES "\tret[ \t]+\\$")
    message(SEND_ERROR "KivMain removes its own argument (ret $n): not __cdecl")
  else()
    message(STATUS "KivMain is __cdecl (plain ret)")
  endif()
endif()
