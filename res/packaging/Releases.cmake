# Reads the releases of the AppStream metadata, the one list of them: the newest dates the manual
# pages, and all of them make the Debian changelog. Sets PULSEWICK_METAINFO (its path),
# PULSEWICK_RELEASES (VERSION=DATE, newest first), PULSEWICK_RELEASE_DATE and PULSEWICK_HOMEPAGE.
set(PULSEWICK_APP_ID org.pulsewick.Pulsewick)
set(PULSEWICK_METAINFO ${PROJECT_SOURCE_DIR}/res/desktop/${PULSEWICK_APP_ID}.metainfo.xml)
set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PULSEWICK_METAINFO})
file(READ ${PULSEWICK_METAINFO} metainfo)

string(REGEX MATCHALL "<release version=\"[^\"]+\" date=\"[0-9-]+\"" tags "${metainfo}")
set(PULSEWICK_RELEASES "")
foreach(tag IN LISTS tags)
    string(REGEX REPLACE "<release version=\"([^\"]+)\" date=\"([0-9-]+)\"" "\\1=\\2" release "${tag}")
    list(APPEND PULSEWICK_RELEASES ${release})
endforeach()
if(NOT PULSEWICK_RELEASES)
    message(FATAL_ERROR "${PULSEWICK_METAINFO} has no <release version=\"...\" date=\"YYYY-MM-DD\">")
endif()
list(GET PULSEWICK_RELEASES 0 newest)
string(REGEX REPLACE ".*=" "" PULSEWICK_RELEASE_DATE "${newest}")

string(REGEX MATCH "<url type=\"homepage\">([^<]+)</url>" _ "${metainfo}")
set(PULSEWICK_HOMEPAGE "${CMAKE_MATCH_1}")
