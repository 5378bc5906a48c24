# Fails unless EXE imports from the KnownDLLs only, and none of their exports
# that Windows forwards to a DLL outside them. Any other DLL, and the target
# of such a forward, the loader looks for beside the program first, before
# the program's first instruction can restrict the search: a DLL planted in
# the download folder, or in a folder users may write, would run with the
# program's rights. With DUMP=file the objdump listing is read from the file
# (the test of this check itself).
cmake_policy(SET CMP0057 NEW)
# The KnownDLLs of Windows 10 and 11 (Session Manager's KnownDLLs key), and
# ntdll, which always is one. The Windows-on-Windows entries are left out.
set(known ADVAPI32.DLL CLBCATQ.DLL COMBASE.DLL COMDLG32.DLL COML2.DLL DIFXAPI.DLL GDI32.DLL GDIPLUS.DLL
          IMAGEHLP.DLL IMM32.DLL KERNEL32.DLL MSCTF.DLL MSVCRT.DLL NORMALIZ.DLL NSI.DLL NTDLL.DLL OLE32.DLL
          OLEAUT32.DLL PSAPI.DLL RPCRT4.DLL SECHOST.DLL SETUPAPI.DLL SHCORE.DLL SHELL32.DLL SHLWAPI.DLL
          USER32.DLL WLDAP32.DLL WS2_32.DLL)
# Exports forwarded out of the KnownDLLs: advapi32's random generator and
# memory encryption (SystemFunction036, 040, 041) to cryptbase.dll, its
# cryptographic provider calls to cryptsp.dll.
set(leaving "^ADVAPI32\\.DLL!(SYSTEMFUNCTION0[0-9][0-9]|CRYPT[A-Z]+)$")

if(DUMP)
  file(READ ${DUMP} dump)
else()
  execute_process(COMMAND ${OBJDUMP} -p ${EXE} OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${OBJDUMP} -p ${EXE} failed")
  endif()
endif()
string(REPLACE ";" "," dump "${dump}")
string(REPLACE "\n" ";" lines "${dump}")
set(dll "")
set(functions 0)
foreach(line IN LISTS lines)
  if(line MATCHES "^\tDLL Name: *([^ \t]+)")
    string(TOUPPER "${CMAKE_MATCH_1}" dll)
    if(NOT dll IN_LIST known)
      message(FATAL_ERROR "${EXE}${DUMP} imports ${dll}, which is not one of the KnownDLLs")
    endif()
    message(STATUS "imports ${dll}")
  elseif(dll AND line MATCHES "^\t[0-9a-f]+\t +[0-9]+  ([^ \t]+)")
    string(TOUPPER "${dll}!${CMAKE_MATCH_1}" import)
    if(import MATCHES "${leaving}")
      message(FATAL_ERROR "${EXE}${DUMP} imports ${import}, which Windows forwards out of the KnownDLLs")
    endif()
    math(EXPR functions "${functions} + 1")
  endif()
endforeach()
if(functions EQUAL 0)
  message(FATAL_ERROR "no imported functions found in ${EXE}${DUMP}")
endif()
