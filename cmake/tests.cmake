# Which tests to build, from QUILLANE_BUILD_TESTS:
#   QUILLANE_WITH_TESTS  testing is enabled (the install-tree check at least)
#   QUILLANE_WITH_SUITE  the GoogleTest suite in tests/ is built
# AUTO builds them only for the top-level project, and the suite only when
# GoogleTest is found (a configure message says so when it is not); ON requires
# GoogleTest; OFF builds none.
# quillane_add_install_tree_test() adds the test install_tree.

# Cross builds compile GoogleTest from Debian's sources (tests/CMakeLists.txt).
set(QUILLANE_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
# The shared corpus of real PDFs that the conformance tests run over; without
# it those tests skip with a message.
set(QUILLANE_CORPUS_DIR ${PROJECT_SOURCE_DIR}/../shared/corpus CACHE PATH
    "Folder of the PDF corpus (with its MANIFEST.tsv) for the conformance tests")

set(QUILLANE_WITH_TESTS OFF)
set(QUILLANE_WITH_SUITE OFF)
if(QUILLANE_BUILD_TESTS STREQUAL "AUTO")
  if(NOT PROJECT_IS_TOP_LEVEL)
    message(STATUS "Tests are not built: quillane is not the top-level project")
  else()
    set(QUILLANE_WITH_TESTS ON)
    if(CMAKE_CROSSCOMPILING)
      if(EXISTS ${QUILLANE_GTEST_SOURCE_DIR}/CMakeLists.txt)
        set(QUILLANE_WITH_SUITE ON)
      endif()
    else()
      find_package(GTest QUIET)
      set(QUILLANE_WITH_SUITE ${GTest_FOUND})
    endif()
    if(NOT QUILLANE_WITH_SUITE)
      message(STATUS "GoogleTest not found: the test suite is not built "
                     "(install libgtest-dev, or configure with -DQUILLANE_BUILD_TESTS=OFF)")
    endif()
  endif()
elseif(QUILLANE_BUILD_TESTS)
  set(QUILLANE_WITH_TESTS ON)
  set(QUILLANE_WITH_SUITE ON)
endif()

# install_tree: `cmake --install` into a scratch prefix gives exactly the files
# that cmake/packaging.cmake documents, every template of data/ among them.
function(quillane_add_install_tree_test)
  set(expected)
  foreach(template ${QUILLANE_TEMPLATES})
    get_filename_component(name ${template} NAME)
    list(APPEND expected ${QUILLANE_INSTALL_DATADIR}/${name})
  endforeach()
  if(WIN32)
    list(APPEND expected quillane.exe README.md)
  else()
    list(APPEND expected bin/quillane share/man/man1/quillane.1
         share/applications/quillane.desktop share/doc/quillane/README.md)
  endif()
  list(TRANSFORM expected REPLACE "^\\./" "")
  string(REPLACE ";" "|" expected "${expected}")
  add_test(NAME install_tree
           COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${PROJECT_BINARY_DIR} -DCONFIG=$<CONFIG>
                   -DPREFIX=${PROJECT_BINARY_DIR}/install-tree-check "-DEXPECTED=${expected}"
                   -DDATA_DIR=${PROJECT_SOURCE_DIR}/data
                   -DTEMPLATE_DIR=${QUILLANE_INSTALL_DATADIR}
                   -P ${PROJECT_SOURCE_DIR}/cmake/check_install_tree.cmake)
endfunction()
