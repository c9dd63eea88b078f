# Install-time half of quarn_install_entry: fills in the installed paths and
# installs the entry. Reads quarn_entry_{text,staged,subdir,bindir,datadir}.

# A key file's string value: backslashes and control characters escaped.
function(quarn_entry_string out value)
  string(REPLACE "\\" "\\\\" value "${value}")
  string(REPLACE "\n" "\\n" value "${value}")
  string(REPLACE "\t" "\\t" value "${value}")
  string(REPLACE "\r" "\\r" value "${value}")
  set(${out} "${value}" PARENT_SCOPE)
endfunction()

# One Exec= argument: in double quotes when it holds a reserved character,
# with ", `, $ and \ escaped inside them; % doubled so it is no field code.
function(quarn_entry_exec_argument out value)
  if(value MATCHES "[ \t\n\"'\\\\<>~|&;$*?#()`]")
    string(REPLACE "\\" "\\\\" value "${value}")
    string(REPLACE "\"" "\\\"" value "${value}")
    string(REPLACE "`" "\\`" value "${value}")
    string(REPLACE "$" "\\$" value "${value}")
    set(value "\"${value}\"")
  endif()
  string(REPLACE "%" "%%" value "${value}")
  quarn_entry_string(value "${value}")
  set(${out} "${value}" PARENT_SCOPE)
endfunction()

foreach(dir bindir datadir)
  if(NOT IS_ABSOLUTE "${quarn_entry_${dir}}")
    set(quarn_entry_${dir} "${CMAKE_INSTALL_PREFIX}/${quarn_entry_${dir}}")
  endif()
endforeach()

# Exec=@BINDIR@/PROGRAM ... takes the quoted program; any other @BINDIR@ (the
# TryExec= line) the plain string.
while(quarn_entry_text MATCHES "\nExec=@BINDIR@/([^ \n]+)")
  set(quarn_entry_program "${CMAKE_MATCH_1}")
  quarn_entry_exec_argument(quarn_entry_exec "${quarn_entry_bindir}/${quarn_entry_program}")
  string(REPLACE "\nExec=@BINDIR@/${quarn_entry_program}" "\nExec=${quarn_entry_exec}"
    quarn_entry_text "${quarn_entry_text}")
endwhile()
quarn_entry_string(quarn_entry_plain "${quarn_entry_bindir}")
string(REPLACE "@BINDIR@" "${quarn_entry_plain}" quarn_entry_text "${quarn_entry_text}")

file(WRITE "${quarn_entry_staged}" "${quarn_entry_text}")
file(INSTALL DESTINATION "${quarn_entry_datadir}/${quarn_entry_subdir}" TYPE FILE
  FILES "${quarn_entry_staged}")
