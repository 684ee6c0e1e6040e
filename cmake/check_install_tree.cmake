# Installs a build into a scratch prefix and fails unless exactly the expected
# files are installed. Run by ctest as the test install_tree:
#   cmake -DBUILD_DIR=<build> -DCONFIG=<config> -DPREFIX=<scratch prefix>
#         -DEXPECTED=<file|file|...> -DDATA_DIR=<source data folder>
#         -DTEMPLATE_DIR=<installed template folder> [-DEXECUTABLE=<file|file|...>]
#         -P check_install_tree.cmake
# EXPECTED lists the installed files relative to the prefix, separated by "|";
# EXECUTABLE those of them that must be executable by everyone (mode 0755).
# Every template (*.dat) of DATA_DIR must be among them, in TEMPLATE_DIR: a template added
# to data/ but not to QUILLANE_TEMPLATES would be missing from every package.
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                        --config "${CONFIG}"
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (${status}):\n${output}")
endif()

file(GLOB_RECURSE installed LIST_DIRECTORIES false RELATIVE "${PREFIX}" "${PREFIX}/*")
list(SORT installed)
string(REPLACE "|" ";" expected "${EXPECTED}")
file(GLOB templates RELATIVE "${DATA_DIR}" "${DATA_DIR}/*.dat")
foreach(template ${templates})
  if(TEMPLATE_DIR STREQUAL ".")
    set(template_path ${template})
  else()
    set(template_path ${TEMPLATE_DIR}/${template})
  endif()
  if(NOT template_path IN_LIST expected)
    message(FATAL_ERROR "data/${template} is not deployed: add it to QUILLANE_TEMPLATES")
  endif()
endforeach()
list(SORT expected)
if(NOT installed STREQUAL expected)
  set(missing ${expected})
  list(REMOVE_ITEM missing ${installed})
  set(unexpected ${installed})
  list(REMOVE_ITEM unexpected ${expected})
  message(FATAL_ERROR "Install tree in ${PREFIX} differs from the expected one.\n"
                      "  missing: ${missing}\n  unexpected: ${unexpected}")
endif()
string(REPLACE "|" ";" executable "${EXECUTABLE}")
foreach(file ${executable})
  execute_process(COMMAND stat -c %a "${PREFIX}/${file}" OUTPUT_VARIABLE mode
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT mode STREQUAL "755")
    message(FATAL_ERROR "${file} is installed with mode ${mode}, expected 755")
  endif()
endforeach()
file(REMOVE_RECURSE "${PREFIX}")
string(REPLACE ";" "\n  " listing "${installed}")
message(STATUS "Installed:\n  ${listing}")
