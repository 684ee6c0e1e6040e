# quillane_add_windows_resources(<target>): compiles into <target> its version
# resource (file and product version from project(), product name,
# description) and its application manifest (asInvoker, the supported Windows
# versions), from packaging/windows/quillane.rc.in and quillane.manifest.in.
enable_language(RC)

function(quillane_add_windows_resources target)
  set(QUILLANE_DESCRIPTION "${PROJECT_DESCRIPTION}")
  set(generated ${PROJECT_BINARY_DIR}/generated)
  set(QUILLANE_MANIFEST ${generated}/quillane.manifest)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/quillane.manifest.in
                 ${QUILLANE_MANIFEST} @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/quillane.rc.in
                 ${generated}/quillane.rc @ONLY)
  target_sources(${target} PRIVATE ${generated}/quillane.rc)
  set_property(SOURCE ${generated}/quillane.rc APPEND PROPERTY OBJECT_DEPENDS
               ${QUILLANE_MANIFEST})
endfunction()
