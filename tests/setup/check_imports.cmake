# Fails unless every DLL that EXE imports is part of Windows itself: a DLL
cmake_policy(SET CMP0057 NEW)
# that is not would be looked for beside the setup file, where anyone can
# put one.
set(allowed ADVAPI32.DLL COMCTL32.DLL COMDLG32.DLL GDI32.DLL KERNEL32.DLL MSVCRT.DLL
            OLE32.DLL OLEAUT32.DLL SHELL32.DLL USER32.DLL)
execute_process(COMMAND ${OBJDUMP} -p ${EXE} OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${OBJDUMP} -p ${EXE} failed")
endif()
string(REGEX MATCHALL "DLL Name: [^\n]+" lines "${dump}")
if(NOT lines)
  message(FATAL_ERROR "no imports found in ${EXE}")
endif()
foreach(line ${lines})
  string(REGEX REPLACE "DLL Name: *" "" dll "${line}")
  string(STRIP "${dll}" dll)
  string(TOUPPER "${dll}" dll)
  if(NOT dll IN_LIST allowed)
    message(FATAL_ERROR "${EXE} imports ${dll}, which is not a system DLL")
  endif()
  message(STATUS "imports ${dll}")
endforeach()
