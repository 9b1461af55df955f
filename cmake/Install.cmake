# `cmake --install build --prefix DIR` lays out a program folder that runs from
# where it lands: the window, the twin and a pristine Database.mdb side by
# side in DIR/lib/reindex, since both programs keep the database, the
# intermediates and the outputs in their own folder. On Windows DIR itself is
# that folder; Qt's own libraries are laid beside the programs there by Qt's
# deployment tool, not by these rules. Elsewhere the menu entry and the icon
# go to the freedesktop places under DIR/share, and DIR/bin gets links to both
# programs (a program started through its link still finds its own folder: Qt
# resolves the link).
if(WIN32)
    set(REINDEX_INSTALL_PROGRAM_DIR .)
else()
    set(REINDEX_INSTALL_PROGRAM_DIR lib/reindex)
endif()

set(programs reindex-cli)
if(REINDEX_BUILD_APP)
    list(PREPEND programs reindex)
endif()
install(TARGETS ${programs} RUNTIME DESTINATION ${REINDEX_INSTALL_PROGRAM_DIR})
# The build's own Database.mdb in bin/ holds the rows of every run made there;
# an installed copy starts empty. A run killed in the folder may have left the
# engine's journal beside the old file (an earlier version: its log and the
# log's index): paired with the new one, they would be played into it.
install(CODE "
    foreach(leftover Database.mdb-journal Database.mdb-wal Database.mdb-shm)
        file(REMOVE \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${REINDEX_INSTALL_PROGRAM_DIR}/\${leftover}\")
    endforeach()")
install(FILES ${REINDEX_TEST_DATABASE} DESTINATION ${REINDEX_INSTALL_PROGRAM_DIR}
    PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

if(NOT WIN32)
    foreach(program IN LISTS programs)
        install(CODE "
            file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin\")
            message(STATUS \"Linking: \$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin/${program}\")
            file(CREATE_LINK ../${REINDEX_INSTALL_PROGRAM_DIR}/${program}
                \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin/${program}\" SYMBOLIC)
            list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin/${program}\")")
    endforeach()
endif()

if(REINDEX_BUILD_APP AND NOT WIN32)
    foreach(size 16 24 32 48 128)
        install(FILES ${PROJECT_SOURCE_DIR}/resources/program-icon-${size}.png
            DESTINATION share/icons/hicolor/${size}x${size}/apps RENAME reindex.png)
    endforeach()
    # The entry names the program by its absolute path, known only once the
    # prefix is: `--prefix` may change it after configuring.
    install(CODE "
        set(REINDEX_DESKTOP_TEMPLATE \"${PROJECT_SOURCE_DIR}/resources/reindex.desktop.in\")
        set(REINDEX_PROGRAM_RELATIVE \"${REINDEX_INSTALL_PROGRAM_DIR}/reindex\")
        include(\"${PROJECT_SOURCE_DIR}/cmake/DesktopEntry.cmake\")")
endif()
