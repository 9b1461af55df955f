# Run at install time, when the prefix is known: writes the menu entry naming
# the installed window program by its absolute path. Expects
# REINDEX_DESKTOP_TEMPLATE, REINDEX_DESKTOP_STAGING and REINDEX_PROGRAM_RELATIVE.
set(program "${CMAKE_INSTALL_PREFIX}/${REINDEX_PROGRAM_RELATIVE}")
# Inside Exec's quotes a backslash, a double quote, a backquote and a dollar
# sign are escaped with a backslash, and that backslash is escaped again as
# the entry's strings are; a percent sign would start a field code.
string(REPLACE "\\" "\\\\\\\\" program "${program}")
foreach(c "\"" "`" "$")
    string(REPLACE "${c}" "\\\\${c}" program "${program}")
endforeach()
string(REPLACE "%" "%%" program "${program}")
set(REINDEX_PROGRAM "${program}")
configure_file("${REINDEX_DESKTOP_TEMPLATE}" "${REINDEX_DESKTOP_STAGING}" @ONLY)
file(INSTALL "${REINDEX_DESKTOP_STAGING}" DESTINATION "${CMAKE_INSTALL_PREFIX}/share/applications")
