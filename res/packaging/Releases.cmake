# Reads the releases of the AppStream metadata, the one list of them: the newest dates the manual
# pages, and all of them make the Debian changelog. Sets PULSEWICK_METAINFO (its path),
# PULSEWICK_RELEASES (VERSION=DATE, newest first), PULSEWICK_RELEASE_DATE and PULSEWICK_HOMEPAGE.
set(PULSEWICK_APP_ID org.pulsewick.Pulsewick)
set(PULSEWICK_METAINFO ${PROJECT_SOURCE_DIR}/res/desktop/${PULSEWICK_APP_ID}.metainfo.xml)
set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PULSEWICK_METAINFO})
file(READ ${PULSEWICK_METAINFO} metainfo)

# Each <release ...> tag, whatever the order of its attributes; its first <p> is the changelog's
# line for it (PULSEWICK_RELEASE_NOTE_<VERSION>).
string(REGEX MATCHALL "<release [^>]*>" tags "${metainfo}")
set(PULSEWICK_RELEASES "")
foreach(tag IN LISTS tags)
    string(REGEX MATCH " version=\"([^\"]+)\"" _ "${tag}")
    set(version "${CMAKE_MATCH_1}")
    string(REGEX MATCH " date=\"([0-9]+-[0-9]+-[0-9]+)" _ "${tag}")
    set(date "${CMAKE_MATCH_1}")
    if(version STREQUAL "" OR date STREQUAL "")
        message(FATAL_ERROR "${PULSEWICK_METAINFO}: ${tag} needs version=\"...\" and date=\"YYYY-MM-DD\"")
    endif()
    list(APPEND PULSEWICK_RELEASES "${version}=${date}")
    string(FIND "${metainfo}" "${tag}" at)
    string(SUBSTRING "${metainfo}" ${at} -1 rest)
    string(REGEX MATCH "<p>([^<]*)</p>" _ "${rest}")
    string(REGEX REPLACE "[ \t\r\n]+" " " note "${CMAKE_MATCH_1}")
    set(PULSEWICK_RELEASE_NOTE_${version} "${note}")
endforeach()
if(NOT PULSEWICK_RELEASES)
    message(FATAL_ERROR "${PULSEWICK_METAINFO} has no <release version=\"...\" date=\"YYYY-MM-DD\">")
endif()
list(GET PULSEWICK_RELEASES 0 newest)
string(REGEX REPLACE ".*=" "" PULSEWICK_RELEASE_DATE "${newest}")

string(REGEX MATCH "<url type=\"homepage\">([^<]+)</url>" _ "${metainfo}")
set(PULSEWICK_HOMEPAGE "${CMAKE_MATCH_1}")
