# Which tests to build, from QUILLANE_BUILD_TESTS:
#   QUILLANE_WITH_TESTS  testing is enabled (the install-tree check at least)
#   QUILLANE_WITH_SUITE  the GoogleTest suite in tests/ is built
# AUTO builds them only for the top-level project, and the suite only when
# GoogleTest is found (a configure message says so when it is not); ON requires
# GoogleTest; OFF builds none.
# quillane_add_install_tree_test() adds the test install_tree (and on Linux the
# checks of the file-manager entries, file_manager_entries*).

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
# that cmake/packaging.cmake documents, every template of data/ among them,
# and the KDE service menu is executable.
function(quillane_add_install_tree_test)
  set(expected)
  foreach(template ${QUILLANE_TEMPLATES})
    get_filename_component(name ${template} NAME)
    list(APPEND expected ${QUILLANE_INSTALL_DATADIR}/${name})
  endforeach()
  list(APPEND expected ${QUILLANE_INSTALL_DATADIR}/othertext.ttf
       ${QUILLANE_INSTALL_DATADIR}/othertext-LICENSE.txt)
  set(executable)
  if(WIN32)
    list(APPEND expected quillane.exe README.md)
  else()
    list(APPEND expected bin/quillane share/man/man1/quillane.1.gz
         share/applications/quillane.desktop share/kio/servicemenus/quillane.desktop
         share/nemo/actions/quillane.nemo_action share/doc/quillane/README.md
         share/doc/quillane/copyright)
    set(executable bin/quillane share/kio/servicemenus/quillane.desktop)
  endif()
  list(TRANSFORM expected REPLACE "^\\./" "")
  string(REPLACE ";" "|" expected "${expected}")
  string(REPLACE ";" "|" executable "${executable}")
  add_test(NAME install_tree
           COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${PROJECT_BINARY_DIR} -DCONFIG=$<CONFIG>
                   -DPREFIX=${PROJECT_BINARY_DIR}/install-tree-check "-DEXPECTED=${expected}"
                   "-DEXECUTABLE=${executable}" -DDATA_DIR=${PROJECT_SOURCE_DIR}/data
                   -DTEMPLATE_DIR=${QUILLANE_INSTALL_DATADIR}
                   -P ${PROJECT_SOURCE_DIR}/cmake/check_install_tree.cmake)
  if(NOT WIN32)
    # file_manager_entries: the Nemo action has the keys Nemo needs, and it and
    # the service menu run the desktop entry's command.
    find_package(Python3 COMPONENTS Interpreter)
    if(Python3_FOUND)
      set(generated ${PROJECT_BINARY_DIR}/packaging)
      add_test(NAME file_manager_entries
               COMMAND Python3::Interpreter
                       ${PROJECT_SOURCE_DIR}/packaging/linux/check_nemo_action.py
                       ${generated}/nemo/quillane.nemo_action
                       ${generated}/applications/quillane.desktop ${generated}/kio/quillane.desktop)
      add_test(NAME file_manager_entries_checker
               COMMAND Python3::Interpreter
                       ${PROJECT_SOURCE_DIR}/packaging/linux/check_nemo_action_test.py)
    endif()
  endif()
endfunction()
