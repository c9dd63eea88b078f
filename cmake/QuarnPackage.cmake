# What an install leaves for its own removal, and the Debian package. Included
# last from the top CMakeLists.txt, so that its install rule runs after every
# other one.

# Each prefix keeps the list of what installing into it wrote, beside a script
# that removes exactly that: the build folder's install_manifest.txt only
# knows the last install, whatever prefix that went to. A later install into
# the same prefix adds to the list, so an older version's leftovers go too.
install(PROGRAMS ${PROJECT_SOURCE_DIR}/data/uninstall.sh
  DESTINATION ${CMAKE_INSTALL_DATADIR}/quarn RENAME uninstall COMPONENT prefix_manifest)
install(CODE "
  set(quarn_manifest_dir [==[${CMAKE_INSTALL_DATADIR}/quarn]==])
  set(quarn_manifest_staged [==[${PROJECT_BINARY_DIR}/prefix-manifest]==])
  include([==[${CMAKE_CURRENT_LIST_DIR}/QuarnWriteManifest.cmake]==])
" COMPONENT prefix_manifest)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quarn)
set(CPACK_PACKAGE_VENDOR "quarn")
set(CPACK_PACKAGE_CONTACT "Seed aee002c4 maintainers <maintainers@users.noreply.c-seed-aee002c4.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "preview window, HTML pages and thumbnails for a notes vault")
set(CPACK_PACKAGE_DESCRIPTION "See the files of a notes vault without opening the notes \
application: Markdown notes with their front matter, wiki links and pictures, JSON and \
YAML files as a grid of keys and values, and canvas drawings as pictures. quarn-view is \
a preview window, quarn-preview writes the page as HTML or MHTML, and quarn-thumbnail \
draws canvas thumbnails for file managers.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The MIME type, the entries and the icons reach the desktop through the
# triggers of these packages on /usr/share.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "shared-mime-info, desktop-file-utils, hicolor-icon-theme")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "tumbler")
# dpkg keeps the package's own list; the per-prefix one would let a script
# remove files behind its back. One package of every other component.
get_cmake_property(CPACK_COMPONENTS_ALL COMPONENTS)
list(REMOVE_ITEM CPACK_COMPONENTS_ALL prefix_manifest)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
include(CPack)
