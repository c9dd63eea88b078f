# Install-time half of the per-prefix manifest: writes DATADIR/quarn/
# install_manifest.txt, the union of what this install and earlier ones into
# the same prefix wrote, one absolute path a line, DESTDIR left out. Reads
# quarn_manifest_dir and quarn_manifest_staged.
if(NOT IS_ABSOLUTE "${quarn_manifest_dir}")
  set(quarn_manifest_dir "${CMAKE_INSTALL_PREFIX}/${quarn_manifest_dir}")
endif()
set(quarn_manifest "${quarn_manifest_dir}/install_manifest.txt")
set(quarn_manifest_files "${quarn_manifest}")
foreach(file IN LISTS CMAKE_INSTALL_MANIFEST_FILES)
  if(DEFINED ENV{DESTDIR} AND NOT "$ENV{DESTDIR}" STREQUAL "")
    string(LENGTH "$ENV{DESTDIR}" quarn_destdir_length)
    string(SUBSTRING "${file}" 0 ${quarn_destdir_length} quarn_head)
    if(quarn_head STREQUAL "$ENV{DESTDIR}")
      string(SUBSTRING "${file}" ${quarn_destdir_length} -1 file)
    endif()
  endif()
  list(APPEND quarn_manifest_files "${file}")
endforeach()
if(EXISTS "$ENV{DESTDIR}${quarn_manifest}")
  file(STRINGS "$ENV{DESTDIR}${quarn_manifest}" quarn_manifest_before)
  list(APPEND quarn_manifest_files ${quarn_manifest_before})
endif()
list(REMOVE_DUPLICATES quarn_manifest_files)
list(SORT quarn_manifest_files)
list(JOIN quarn_manifest_files "\n" quarn_manifest_text)
file(WRITE "${quarn_manifest_staged}/install_manifest.txt" "${quarn_manifest_text}\n")
file(INSTALL DESTINATION "${quarn_manifest_dir}" TYPE FILE
  FILES "${quarn_manifest_staged}/install_manifest.txt")
