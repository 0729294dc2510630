# Checks a Windows DLL: its export table names exactly the .def list (an
# "Alias = Function" line exports the alias), and it imports only system DLLs
# and the DLLs named in ALLOWED_IMPORTS (a ;-list, optional).
# Usage: cmake -DOBJDUMP= -DLIB= -DDEF= [-DALLOWED_IMPORTS=] -P this
cmake_minimum_required(VERSION 3.25)

foreach(var OBJDUMP LIB DEF)
  if(NOT ${var})
    message(FATAL_ERROR "check_pe_exports: ${var} is not set")
  endif()
endforeach()

execute_process(COMMAND ${OBJDUMP} -p ${LIB} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p failed on ${LIB}")
endif()

# The names follow the "[Ordinal/Name Pointer] Table" heading, one per line,
# up to the first empty line.
string(FIND "${dump}" "[Ordinal/Name Pointer] Table" start)
if(start EQUAL -1)
  message(FATAL_ERROR "${LIB} has no export name table")
endif()
string(SUBSTRING "${dump}" ${start} -1 table)
string(FIND "${table}" "\n\n" end)
if(NOT end EQUAL -1)
  string(SUBSTRING "${table}" 0 ${end} table)
endif()
string(REGEX MATCHALL "\\[ *[0-9]+\\] [^\n]+" rows "${table}")
set(actual "")
foreach(row IN LISTS rows)
  string(REGEX REPLACE "^\\[ *[0-9]+\\] " "" name "${row}")
  list(APPEND actual "${name}")
endforeach()

file(STRINGS ${DEF} def_lines)
set(expected "")
set(in_exports FALSE)
foreach(line IN LISTS def_lines)
  string(STRIP "${line}" line)
  string(REGEX REPLACE "^([A-Za-z_][A-Za-z0-9_]*) *=.*$" "\\1" line "${line}")
  if(line STREQUAL "EXPORTS")
    set(in_exports TRUE)
  elseif(in_exports AND line MATCHES "^[A-Za-z_][A-Za-z0-9_]*$")
    list(APPEND expected "${line}")
  endif()
endforeach()

list(SORT actual)
list(SORT expected)
if(NOT actual STREQUAL expected)
  message(FATAL_ERROR "export table of ${LIB}:\n  ${actual}\nexport list ${DEF}:\n  ${expected}")
endif()

# The Windows DLLs the deliverables may rely on being present.
set(system_dlls advapi32.dll comctl32.dll comdlg32.dll gdi32.dll kernel32.dll msvcrt.dll newdev.dll ole32.dll
    setupapi.dll shell32.dll shlwapi.dll user32.dll winspool.drv)
set(allowed "")
foreach(dll IN LISTS ALLOWED_IMPORTS)
  string(TOLOWER "${dll}" lower)
  list(APPEND allowed "${lower}")
endforeach()
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
set(imported "")
foreach(entry IN LISTS imports)
  string(REPLACE "DLL Name: " "" dll "${entry}")
  string(TOLOWER "${dll}" lower)
  if(lower MATCHES "libstdc|libgcc|libwinpthread|mingw")
    message(FATAL_ERROR "${LIB} imports the MinGW runtime DLL ${dll}")
  endif()
  if(NOT lower IN_LIST system_dlls AND NOT lower IN_LIST allowed)
    message(FATAL_ERROR "${LIB} imports ${dll}, neither a system DLL nor one of: ${ALLOWED_IMPORTS}")
  endif()
  list(APPEND imported "${dll}")
endforeach()

list(LENGTH actual count)
message(STATUS "exports: ${count} names match the export list; imports: ${imported}")
