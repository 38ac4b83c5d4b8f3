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
# runtime that MinGW links against; shell32: the user's own folders. All six
# are KnownDLLs.
set(allowed kernel32.dll user32.dll gdi32.dll advapi32.dll msvcrt.dll shell32.dll)
foreach(line IN LISTS imports)
    string(REPLACE "DLL Name: " "" dll "${line}")
    string(TOLOWER "${dll}" dll)
    list(FIND allowed "${dll}" found)
    if(found EQUAL -1)
        message(FATAL_ERROR "${PROGRAM} imports ${dll}, which is not one of Windows' KnownDLLs")
    endif()
    message(STATUS "imports ${dll}")
endforeach()
string(REGEX MATCHALL "\n\t[0-9a-f]+\t +[0-9]+  [A-Za-z_0-9]+" functions "${dump}")
# The DPI functions came with Windows 8.1 and 10: imported by name, they
# would keep the program from starting on anything older. They are looked
# up at run time.
foreach(line IN LISTS functions)
    string(REGEX REPLACE ".*  " "" function "${line}")
    string(TOLOWER "${function}" lower)
    if(lower MATCHES "dpi" OR function STREQUAL "LoadIconWithScaleDown")
        message(FATAL_ERROR "${PROGRAM} imports ${function}, which older Windows lack")
    endif()
endforeach()
# A Unicode program imports no ANSI function: those convert text through the
# ANSI code page, whose best-fit mapping can turn a path into another one.
# Functions whose names end in a capital A but that have no W form would be
# listed here; GetProcAddress and the like take ANSI names without the suffix.
set(ansi_allowed)
foreach(line IN LISTS functions)
    string(REGEX REPLACE ".*  " "" function "${line}")
    if(function MATCHES "[a-z0-9]A$")
        list(FIND ansi_allowed "${function}" found)
        if(found EQUAL -1)
            message(FATAL_ERROR "${PROGRAM} imports ${function}, the ANSI form of a function")
        endif()
    endif()
endforeach()
list(LENGTH functions count)
if(count EQUAL 0)
    message(FATAL_ERROR "no imported functions found in the dump of ${PROGRAM}")
endif()
message(STATUS "${count} imported functions, none in an ANSI form")
if(NOT dump MATCHES "file format pei-i386" OR NOT dump MATCHES "Subsystem[ \t]+00000002")
    message(FATAL_ERROR "${PROGRAM} is not a 32-bit Windows GUI program")
endif()
