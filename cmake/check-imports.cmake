# Fails unless the program imports only Windows' KnownDLLs. The loader maps
# those from the system folder whatever the search order, so a DLL of the
# same name beside the program (a planted one in a Downloads folder) is never
# loaded into the elevated process. Any other DLL is loaded at run time from
# the system folder by full path or LOAD_LIBRARY_SEARCH_SYSTEM32.
execute_process(COMMAND ${OBJDUMP} -p ${PROGRAM} OUTPUT_VARIABLE dump RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "objdump failed on ${PROGRAM}")
endif()
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
# kernel32, user32, gdi32 and advapi32: the Win32 API itself; msvcrt: the C
# runtime that MinGW links against. All five are KnownDLLs since Windows NT.
set(allowed kernel32.dll user32.dll gdi32.dll advapi32.dll msvcrt.dll)
foreach(line IN LISTS imports)
    string(REPLACE "DLL Name: " "" dll "${line}")
    string(TOLOWER "${dll}" dll)
    list(FIND allowed "${dll}" found)
    if(found EQUAL -1)
        message(FATAL_ERROR "${PROGRAM} imports ${dll}, which is not one of Windows' KnownDLLs")
    endif()
    message(STATUS "imports ${dll}")
endforeach()
if(NOT dump MATCHES "file format pei-i386" OR NOT dump MATCHES "Subsystem[ \t]+00000002")
    message(FATAL_ERROR "${PROGRAM} is not a 32-bit Windows GUI program")
endif()
