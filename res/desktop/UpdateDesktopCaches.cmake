# Runs at install time, after the desktop files are in place. A staged install (DESTDIR) is left
# alone: the caches belong to the system that finally receives the files.
if(NOT "$ENV{DESTDIR}" STREQUAL "")
    return()
endif()

# The prefix is the one given when installing (`cmake --install --prefix`), not the configured one.
if(IS_ABSOLUTE "${PULSEWICK_DATADIR}")
    set(share "${PULSEWICK_DATADIR}")
else()
    set(share "${CMAKE_INSTALL_PREFIX}/${PULSEWICK_DATADIR}")
endif()

find_program(PULSEWICK_UPDATE_MIME update-mime-database)
find_program(PULSEWICK_UPDATE_DESKTOP update-desktop-database)
find_program(PULSEWICK_UPDATE_ICONS gtk-update-icon-cache)

if(PULSEWICK_UPDATE_MIME)
    execute_process(COMMAND "${PULSEWICK_UPDATE_MIME}" "${share}/mime")
endif()
if(PULSEWICK_UPDATE_DESKTOP)
    execute_process(COMMAND "${PULSEWICK_UPDATE_DESKTOP}" -q "${share}/applications")
endif()
# Only a complete theme folder may carry a cache; a private prefix usually has none.
if(PULSEWICK_UPDATE_ICONS AND EXISTS "${share}/icons/hicolor/index.theme")
    execute_process(COMMAND "${PULSEWICK_UPDATE_ICONS}" -q -t "${share}/icons/hicolor")
endif()
