# Fails the build when a Windows executable imports a DLL that is not part of
# every Windows installation, so that quillane.exe runs from a bare folder.
# Usage: cmake -DOBJDUMP=<objdump> -DEXECUTABLE=<exe> -P check_windows_imports.cmake
cmake_minimum_required(VERSION 3.25)

set(allowed kernel32.dll user32.dll advapi32.dll msvcrt.dll)

execute_process(COMMAND ${OBJDUMP} -p ${EXECUTABLE}
                OUTPUT_VARIABLE dump RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${EXECUTABLE} failed (${status})")
endif()

string(REGEX MATCHALL "DLL Name: [^\r\n]+" entries "${dump}")
if(NOT entries)
  message(FATAL_ERROR "${EXECUTABLE}: no import table found")
endif()
set(foreign "")
foreach(entry ${entries})
  string(REPLACE "DLL Name: " "" dll "${entry}")
  string(STRIP "${dll}" dll)
  string(TOLOWER "${dll}" lower)
  if(NOT lower IN_LIST allowed)
    list(APPEND foreign ${dll})
  endif()
endforeach()
if(foreign)
  message(FATAL_ERROR "${EXECUTABLE} imports DLLs that are not part of Windows: ${foreign}")
endif()
