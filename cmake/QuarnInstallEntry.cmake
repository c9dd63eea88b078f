# quarn_install_entry(NAME SUBDIR TEXT): installs the desktop file NAME under
# DATADIR/SUBDIR. Desktops need the programs it names by absolute path, so it
# is written at install time from the prefix actually used (cmake --install
# --prefix DIR included): each @BINDIR@ in TEXT becomes the installed bin
# folder. A prefix with a space or another character that Exec= reserves is
# quoted there (TryExec= is a plain string and takes the path as it is).
# DESTDIR is honoured by file(INSTALL) and kept out of the text.
function(quarn_install_entry name subdir text)
  set(staged ${CMAKE_CURRENT_BINARY_DIR}/${name})
  install(CODE "
  set(quarn_entry_text [==[${text}]==])
  set(quarn_entry_staged [==[${staged}]==])
  set(quarn_entry_subdir [==[${subdir}]==])
  set(quarn_entry_bindir [==[${CMAKE_INSTALL_BINDIR}]==])
  set(quarn_entry_datadir [==[${CMAKE_INSTALL_DATADIR}]==])
  include([==[${CMAKE_CURRENT_FUNCTION_LIST_DIR}/QuarnWriteEntry.cmake]==])
")
endfunction()
