# Run at install time, when the prefix is known: writes the menu entry naming
# the installed window program by its absolute path. Expects
# REINDEX_DESKTOP_TEMPLATE and REINDEX_PROGRAM_RELATIVE.

# A relative prefix is taken from where `cmake --install` runs, as the files'
# destinations are; the menu starts programs from elsewhere.
get_filename_component(prefix "${CMAKE_INSTALL_PREFIX}" ABSOLUTE)
set(program "${prefix}/${REINDEX_PROGRAM_RELATIVE}")
# Inside Exec's quotes a backslash, a double quote, a backquote and a dollar
# sign are escaped with a backslash, and that backslash is escaped again as
# the entry's strings are; a percent sign would start a field code.
string(REPLACE "\\" "\\\\\\\\" program "${program}")
foreach(c "\"" "`" "$")
    string(REPLACE "${c}" "\\\\${c}" program "${program}")
endforeach()
string(REPLACE "%" "%%" program "${program}")
set(REINDEX_PROGRAM "${program}")

set(entry "$ENV{DESTDIR}${prefix}/share/applications/reindex.desktop")
message(STATUS "Installing: ${entry}")
configure_file("${REINDEX_DESKTOP_TEMPLATE}" "${entry}" @ONLY)
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${entry}")
