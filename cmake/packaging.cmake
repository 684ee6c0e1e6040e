# Installation and packages of the quillane executable.
#
# Linux, cmake --install:
#   bin/quillane
#   share/quillane/<templates>              found through ../share/quillane/
#   share/quillane/othertext.ttf            the text font (QUILLANE_TEXT_FONT)
#   share/quillane/othertext-LICENSE.txt    its licence notice
#   share/man/man1/quillane.1.gz
#   share/applications/quillane.desktop     "Quillane" under "Open With" for PDFs
#   share/kio/servicemenus/quillane.desktop "Open without images" in Dolphin (mode 0755)
#   share/nemo/actions/quillane.nemo_action "Open without images" in Nemo
#   share/doc/quillane/README.md, share/doc/quillane/copyright
# The Debian package (cpack -G DEB) holds the same tree, but:
#   - othertext.ttf is a relative link to the font's file in the Debian package
#     that provides it, which the package depends on, and has no notice beside
#     it (the font's own package carries its copyright file);
#   - the service menu has mode 0644: dpkg installs it owned by root, which KDE
#     accepts in place of the executable bit, and lintian rejects an executable
#     that is neither a program nor a script;
#   - share/doc/quillane/changelog.Debian.gz is added.
# Install components say which is which: "standalone" holds what only a plain
# install has, "debian" (left out of a plain install) what only the package
# has; the package is "Unspecified" plus "debian".
# Windows (cpack: the zip and the per-user NSIS installer): quillane.exe, the
# templates, othertext.ttf with othertext-LICENSE.txt, and README.md in one
# folder.
#
# Expects QUILLANE_TEMPLATES (the template files, relative to the source tree),
# QUILLANE_TEXT_FONT and QUILLANE_VENDOR from the top-level CMakeLists.txt.

if(WIN32)
  set(QUILLANE_INSTALL_BINDIR .)
  set(QUILLANE_INSTALL_DATADIR .)
else()
  # Fixed, not GNUInstallDirs: the program finds its templates at
  # ../share/quillane/ from its own folder.
  set(QUILLANE_INSTALL_BINDIR bin)
  set(QUILLANE_INSTALL_DATADIR share/quillane)
endif()

# The options of "Open without images", the one command that every
# file-manager entry and the Windows verb run: quillane <options> /in <file>.
set(QUILLANE_VIEW_OPTIONS "/tempexec /inline /showtext")

set(QUILLANE_PACKAGE_CONTACT "${QUILLANE_VENDOR} <packages@bramblecote.invalid>"
    CACHE STRING "Maintainer of the packages, \"Name <address>\"")
# The Debian package's version is that of the newest entry of its changelog,
# "<project version>-<Debian revision>": a new version in project() needs an
# entry of its own there.
file(STRINGS packaging/linux/changelog.Debian changelog_top LIMIT_COUNT 1)
if(NOT changelog_top MATCHES "^quillane \\(([^ )]+)-([0-9]+)\\) "
   OR NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "packaging/linux/changelog.Debian begins with \"${changelog_top}\": add an "
                      "entry \"quillane (${PROJECT_VERSION}-1) ...\" for version ${PROJECT_VERSION}")
endif()
set(QUILLANE_DEB_RELEASE ${CMAKE_MATCH_2})
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS packaging/linux/changelog.Debian)

# ---------------------------------------------------------------------------
# The text font and its licence notice. The font is a file of a Debian
# package, normally; that package's copyright file is the notice.
file(REAL_PATH ${QUILLANE_TEXT_FONT} QUILLANE_TEXT_FONT_FILE)
set(QUILLANE_TEXT_FONT_PACKAGE "")
find_program(QUILLANE_DPKG_QUERY dpkg-query)
mark_as_advanced(QUILLANE_DPKG_QUERY)
if(QUILLANE_DPKG_QUERY)
  # "package[:arch][, package...]: path", after any "diversion by ..." lines.
  execute_process(COMMAND ${QUILLANE_DPKG_QUERY} -S ${QUILLANE_TEXT_FONT_FILE}
                  RESULT_VARIABLE status OUTPUT_VARIABLE owners ERROR_QUIET)
  if(status EQUAL 0 AND owners MATCHES "(^|\n)([a-z0-9][a-z0-9+.-]+)(:[a-z0-9]+)?[,:] ")
    set(QUILLANE_TEXT_FONT_PACKAGE ${CMAKE_MATCH_2})
  endif()
endif()
set(QUILLANE_TEXT_FONT_LICENSE "" CACHE FILEPATH
    "Licence notice of the text font, installed as othertext-LICENSE.txt (empty: the copyright file of the Debian package that provides the font)")
set(font_license ${QUILLANE_TEXT_FONT_LICENSE})
if(NOT font_license AND QUILLANE_TEXT_FONT_PACKAGE)
  set(font_license /usr/share/doc/${QUILLANE_TEXT_FONT_PACKAGE}/copyright)
endif()
if(NOT font_license OR NOT EXISTS ${font_license})
  message(FATAL_ERROR "No licence notice for the text font ${QUILLANE_TEXT_FONT_FILE}: it belongs "
                      "to no Debian package with a copyright file; set QUILLANE_TEXT_FONT_LICENSE "
                      "to the font's licence")
endif()

# ---------------------------------------------------------------------------
# Install rules.
install(TARGETS quillane RUNTIME DESTINATION ${QUILLANE_INSTALL_BINDIR})
install(FILES ${QUILLANE_TEMPLATES} DESTINATION ${QUILLANE_INSTALL_DATADIR})
if(WIN32)
  install(FILES ${QUILLANE_TEXT_FONT_FILE} DESTINATION . RENAME othertext.ttf)
  install(FILES ${font_license} DESTINATION . RENAME othertext-LICENSE.txt)
  install(FILES README.md DESTINATION .)
else()
  set(generated ${PROJECT_BINARY_DIR}/packaging)
  # The three file-manager entries, each running the same command.
  configure_file(packaging/linux/quillane.desktop.in ${generated}/applications/quillane.desktop
                 @ONLY)
  configure_file(packaging/linux/servicemenu.desktop.in ${generated}/kio/quillane.desktop @ONLY)
  configure_file(packaging/linux/quillane.nemo_action.in ${generated}/nemo/quillane.nemo_action
                 @ONLY)

  # The manual page and the changelog are installed compressed as Debian
  # wants them: gzip -9, without name and time stamp (-n), so that the bytes
  # depend on the text alone.
  find_program(QUILLANE_GZIP gzip REQUIRED)
  mark_as_advanced(QUILLANE_GZIP)
  add_custom_command(OUTPUT ${generated}/quillane.1.gz
                     COMMAND ${QUILLANE_GZIP} -9n -c ${PROJECT_SOURCE_DIR}/docs/quillane.1 >
                             ${generated}/quillane.1.gz
                     DEPENDS docs/quillane.1 VERBATIM)
  add_custom_command(OUTPUT ${generated}/changelog.Debian.gz
                     COMMAND ${QUILLANE_GZIP} -9n -c
                             ${PROJECT_SOURCE_DIR}/packaging/linux/changelog.Debian >
                             ${generated}/changelog.Debian.gz
                     DEPENDS packaging/linux/changelog.Debian VERBATIM)
  add_custom_target(quillane_compressed_docs ALL
                    DEPENDS ${generated}/quillane.1.gz ${generated}/changelog.Debian.gz)

  install(FILES ${generated}/quillane.1.gz DESTINATION share/man/man1)
  install(FILES ${generated}/applications/quillane.desktop DESTINATION share/applications)
  install(FILES ${generated}/nemo/quillane.nemo_action DESTINATION share/nemo/actions)
  install(FILES README.md packaging/linux/copyright DESTINATION share/doc/quillane)

  # A plain install: the font and its notice, and the service menu executable,
  # as KDE 6 requires of a service menu that root does not own.
  install(FILES ${QUILLANE_TEXT_FONT_FILE} DESTINATION ${QUILLANE_INSTALL_DATADIR}
          RENAME othertext.ttf COMPONENT standalone)
  install(FILES ${font_license} DESTINATION ${QUILLANE_INSTALL_DATADIR}
          RENAME othertext-LICENSE.txt COMPONENT standalone)
  install(FILES ${generated}/kio/quillane.desktop DESTINATION share/kio/servicemenus
          PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                      WORLD_READ WORLD_EXECUTE
          COMPONENT standalone)

  # The Debian package.
  install(FILES ${generated}/kio/quillane.desktop DESTINATION share/kio/servicemenus
          COMPONENT debian EXCLUDE_FROM_ALL)
  install(FILES ${generated}/changelog.Debian.gz DESTINATION share/doc/quillane
          COMPONENT debian EXCLUDE_FROM_ALL)
  if(QUILLANE_TEXT_FONT_PACKAGE)
    # Within /usr the link is relative (Debian policy 10.5), so that it also
    # holds in a tree unpacked elsewhere.
    if(QUILLANE_TEXT_FONT_FILE MATCHES "^/usr/")
      file(RELATIVE_PATH font_link_target /usr/${QUILLANE_INSTALL_DATADIR}
           ${QUILLANE_TEXT_FONT_FILE})
    else()
      set(font_link_target ${QUILLANE_TEXT_FONT_FILE})
    endif()
    file(MAKE_DIRECTORY ${generated}/debian)
    file(REMOVE ${generated}/debian/othertext.ttf)
    file(CREATE_LINK ${font_link_target} ${generated}/debian/othertext.ttf SYMBOLIC)
    install(FILES ${generated}/debian/othertext.ttf DESTINATION ${QUILLANE_INSTALL_DATADIR}
            COMPONENT debian EXCLUDE_FROM_ALL)
  else()
    message(STATUS "The text font belongs to no Debian package: the Debian package carries a "
                   "copy of it with its notice")
    install(FILES ${QUILLANE_TEXT_FONT_FILE} DESTINATION ${QUILLANE_INSTALL_DATADIR}
            RENAME othertext.ttf COMPONENT debian EXCLUDE_FROM_ALL)
    install(FILES ${font_license} DESTINATION ${QUILLANE_INSTALL_DATADIR}
            RENAME othertext-LICENSE.txt COMPONENT debian EXCLUDE_FROM_ALL)
  endif()
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
set(CPACK_PACKAGE_CONTACT "${QUILLANE_PACKAGE_CONTACT}")
set(CPACK_STRIP_FILES ON)
# Folders made on the way get 0755 whatever the umask.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
    GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

if(WIN32)
  set(CPACK_GENERATOR ZIP NSIS)
  set(CPACK_PACKAGE_FILE_NAME quillane-${PROJECT_VERSION}-win64)
  # The installer script (NSIS.template.in) lives in packaging/windows.
  set(CPACK_MODULE_PATH ${PROJECT_SOURCE_DIR}/packaging/windows)
  set(CPACK_QUILLANE_VERSION_QUAD ${PROJECT_VERSION}.0)
  set(CPACK_QUILLANE_VIEW_OPTIONS "${QUILLANE_VIEW_OPTIONS}")
  # Per generator: the zip unpacks into one folder; the installer is named
  # -setup.exe (cpack_options.cmake).
  set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/cpack_options.cmake)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  # One package of the components "Unspecified" and "debian" (see above).
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  set(CPACK_COMPONENTS_ALL Unspecified debian)
  set(CPACK_DEBIAN_PACKAGE_NAME quillane)
  set(CPACK_DEBIAN_PACKAGE_RELEASE ${QUILLANE_DEB_RELEASE})
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION text)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The C and C++ run-time libraries, as dpkg-shlibdeps finds them, and the
  # package of the text font that othertext.ttf links to.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "${QUILLANE_TEXT_FONT_PACKAGE}")
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS pdf-viewer)
  # The long description; CPack puts the summary line above it.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "Quillane finds every image object of a PDF document by one raw walk over its
bytes and appends an incremental update in which each image is replaced by a
small placeholder, so a PDF reader shows gray boxes where the pictures were.
The input file is never written: the output keeps its bytes and adds the
update. A desktop entry offers Quillane under Open With for PDF documents,
and Dolphin and Nemo get an Open without images entry in their context menus,
showing the document without images in the usual PDF reader.")
endif()

include(CPack)
