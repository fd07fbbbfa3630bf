# What `cmake --install` lays out, and the Debian package CPack makes of it (scripts/package).

set(OLVANTA_MAINTAINER "Olvanta maintainers <maintainers@users.noreply.c-seed-df39b460.example>"
    CACHE STRING "The package's maintainer, name and address")

set(olvanta_programs olvanta)
if(OLVANTA_BUILD_TOOLS)
  list(APPEND olvanta_programs olvanta-convert olvanta-snapshot olvanta-open olvanta-thumbnail olvanta-gen)
endif()
install(TARGETS ${olvanta_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Manual pages and documents go in compressed, as Debian wants them; the version is filled in.
function(olvanta_compressed source compressed)
  get_filename_component(name ${source} NAME)
  set(filled ${CMAKE_BINARY_DIR}/docs/${name})
  configure_file(${source} ${filled} @ONLY)
  add_custom_command(OUTPUT ${compressed} COMMAND gzip -9nc ${filled} > ${compressed}
                     DEPENDS ${filled} VERBATIM)
endfunction()

set(olvanta_pages)
foreach(program ${olvanta_programs})
  set(page ${CMAKE_BINARY_DIR}/docs/${program}.1.gz)
  olvanta_compressed(${PROJECT_SOURCE_DIR}/docs/man/${program}.1 ${page})
  list(APPEND olvanta_pages ${page})
endforeach()
set(olvanta_documents ${CMAKE_BINARY_DIR}/docs/README.md.gz ${CMAKE_BINARY_DIR}/docs/changelog.gz)
olvanta_compressed(${PROJECT_SOURCE_DIR}/README.md ${CMAKE_BINARY_DIR}/docs/README.md.gz)
olvanta_compressed(${PROJECT_SOURCE_DIR}/docs/package/changelog.in ${CMAKE_BINARY_DIR}/docs/changelog.gz)
add_custom_target(documentation ALL DEPENDS ${olvanta_pages} ${olvanta_documents})

install(FILES ${olvanta_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# For the desktop: the format's MIME type, known by content, an entry that opens any mesh file in
# the viewer through olvanta-open, with its icon, and the thumbnailer file managers find by name.
if(OLVANTA_BUILD_TOOLS)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/desktop/olvanta-mesh.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME olvanta.xml)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/desktop/olvanta.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/desktop/olvanta.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/desktop/olvanta.thumbnailer DESTINATION ${CMAKE_INSTALL_DATADIR}/thumbnailers)
endif()
install(FILES ${olvanta_documents} ${PROJECT_SOURCE_DIR}/docs/package/copyright
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME olvanta)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "viewer for triangle meshes in a line-oriented text format")
# The extended description, one line per line of the control file.
set(CPACK_PACKAGE_DESCRIPTION [=[
Olvanta opens a triangle mesh kept in a simple Vertex/Face text format in
one OpenGL window, after asking for its file name at a console prompt.
Mouse drags turn, move and scale the model; a popup menu switches
wireframe, flat and smooth drawing, shows or hides a ground grid, the axes
and the bounding box, turns lighting on and off, and switches projection.
olvanta-open shows any mesh file in the viewer, converting it on the way
when it must; olvanta-convert makes such files from the format's whole
family and from OBJ, PLY, STL, OFF and many other formats;
olvanta-snapshot pictures any view without a screen, olvanta-thumbnail
makes the pictures file managers show of mesh files, and olvanta-gen
writes example meshes.]=])
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${OLVANTA_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The dependencies are read off the programs' shared libraries, never kept by hand.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Except the one loaded at run time: Mesa's software rasteriser, which the thumbnailer draws with
# through EGL. The viewer's GLX brings it too, but only by way of a chain the thumbnailer must not
# rely on.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libgl1-mesa-dri")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xvfb")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)
