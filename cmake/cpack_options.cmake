# Read by cpack once per generator (CPACK_PROJECT_CONFIG_FILE) in the Windows
# build: the zip unpacks into one folder named like the zip, and the installer
# is quillane-<version>-win64-setup.exe beside it.
if(CPACK_GENERATOR STREQUAL "ZIP")
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
elseif(CPACK_GENERATOR STREQUAL "NSIS")
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
  set(CPACK_PACKAGE_FILE_NAME "${CPACK_PACKAGE_FILE_NAME}-setup")
endif()
