# quillane_check_windows_imports(<target>): after every link of <target>, the
# build fails unless its imports are limited to KERNEL32, USER32, ADVAPI32 and
# msvcrt (see check_windows_imports.cmake).
function(quillane_check_windows_imports target)
  if(NOT CMAKE_OBJDUMP)
    message(FATAL_ERROR "objdump is needed to check the imports of ${target}")
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${CMAKE_OBJDUMP} -DEXECUTABLE=$<TARGET_FILE:${target}>
            -P ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/check_windows_imports.cmake
    COMMENT "Checking the DLL imports of ${target}"
    VERBATIM)
endfunction()
