# quarn_install_entry(NAME SUBDIR TEXT): installs the desktop file NAME under
# DATADIR/SUBDIR. Desktops need the programs it names by absolute path, so it
# is written at install time from the prefix actually used (cmake --install
# --prefix DIR included): each @BINDIR@ in TEXT becomes the installed bin
# folder. DESTDIR is honoured by file(INSTALL) and kept out of the text.
function(quarn_install_entry name subdir text)
  set(staged ${CMAKE_CURRENT_BINARY_DIR}/${name})
  string(REPLACE "@BINDIR@" "\${bindir}" text "${text}")
  install(CODE "
  set(bindir \"${CMAKE_INSTALL_BINDIR}\")
  if(NOT IS_ABSOLUTE \"\${bindir}\")
    set(bindir \"\${CMAKE_INSTALL_PREFIX}/\${bindir}\")
  endif()
  file(WRITE \"${staged}\" \"${text}\")
  set(datadir \"${CMAKE_INSTALL_DATADIR}\")
  if(NOT IS_ABSOLUTE \"\${datadir}\")
    set(datadir \"\${CMAKE_INSTALL_PREFIX}/\${datadir}\")
  endif()
  file(INSTALL DESTINATION \"\${datadir}/${subdir}\" TYPE FILE FILES \"${staged}\")
")
endfunction()
