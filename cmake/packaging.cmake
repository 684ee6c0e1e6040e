# Installation and packages of the quillane executable.
#
# Linux (cmake --install, cpack -G DEB):
#   bin/quillane
#   share/quillane/<templates>            found through ../share/quillane/
#   share/man/man1/quillane.1
#   share/applications/quillane.desktop   "Quillane" under "Open With" for PDFs
#   share/doc/quillane/README.md
# Windows (cpack: the zip and the per-user NSIS installer): quillane.exe, the
# templates and README.md in one folder.
#
# Expects QUILLANE_TEMPLATES (the template files, relative to the source tree)
# and QUILLANE_VENDOR from the top-level CMakeLists.txt.

if(WIN32)
  set(QUILLANE_INSTALL_BINDIR .)
  set(QUILLANE_INSTALL_DATADIR .)
else()
  # Fixed, not GNUInstallDirs: the program finds its templates at
  # ../share/quillane/ from its own folder.
  set(QUILLANE_INSTALL_BINDIR bin)
  set(QUILLANE_INSTALL_DATADIR share/quillane)
endif()

install(TARGETS quillane RUNTIME DESTINATION ${QUILLANE_INSTALL_BINDIR})
install(FILES ${QUILLANE_TEMPLATES} DESTINATION ${QUILLANE_INSTALL_DATADIR})
if(WIN32)
  install(FILES README.md DESTINATION .)
else()
  install(FILES docs/quillane.1 DESTINATION share/man/man1)
  install(FILES packaging/linux/quillane.desktop DESTINATION share/applications)
  install(FILES README.md DESTINATION share/doc/quillane)
endif()

# ---------------------------------------------------------------------------
# CPack, when quillane is the top-level project (a parent project packages
# itself).
if(NOT PROJECT_IS_TOP_LEVEL)
  return()
endif()

set(CPACK_PACKAGE_NAME quillane)
set(CPACK_PACKAGE_VENDOR "${QUILLANE_VENDOR}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(QUILLANE_PACKAGE_CONTACT "${QUILLANE_VENDOR} <packages@bramblecote.invalid>"
    CACHE STRING "Maintainer of the packages, \"Name <address>\"")
set(CPACK_PACKAGE_CONTACT "${QUILLANE_PACKAGE_CONTACT}")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP NSIS)
  set(CPACK_PACKAGE_FILE_NAME quillane-${PROJECT_VERSION}-win64)
  # The installer script (NSIS.template.in) lives in packaging/windows.
  set(CPACK_MODULE_PATH ${PROJECT_SOURCE_DIR}/packaging/windows)
  set(CPACK_QUILLANE_VERSION_QUAD ${PROJECT_VERSION}.0)
  # Per generator: the zip unpacks into one folder; the installer is named
  # -setup.exe (cpack_options.cmake).
  set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/cpack_options.cmake)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The C and C++ run-time libraries, as dpkg-shlibdeps finds them.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS pdf-viewer)
  # The long description; CPack puts the summary line above it.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "Quillane finds every image object of a PDF document by one raw walk over its
bytes and appends an incremental update in which each image is replaced by a
small placeholder, so a PDF reader shows gray boxes where the pictures were.
The input file is never written: the output keeps its bytes and adds the
update. A desktop entry offers Quillane under Open With for PDF documents,
showing the document without images in the usual PDF reader.")
endif()

include(CPack)
