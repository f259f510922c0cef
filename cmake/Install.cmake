# Install rules for both layouts (VELMORA_INSTALL_LAYOUT). Either way the launcher, README.html (and
# its German README.de.html) and the Orvane game directory stay side by side: the launcher finds
# them beside its own executable.
# A package build names the version its changelog gives (debian/rules passes it); the package's
# version is this project's, so any other stops the build.
if(DEFINED VELMORA_PACKAGE_VERSION AND NOT VELMORA_PACKAGE_VERSION STREQUAL PROJECT_VERSION)
    message(FATAL_ERROR "debian/changelog names version ${VELMORA_PACKAGE_VERSION}, the project is "
                        "${PROJECT_VERSION} (CMakeLists.txt): add a changelog entry for ${PROJECT_VERSION}")
endif()

set(game_exe_dir "Orvane/orvane.app/Contents/MacOS")
set(resources "${PROJECT_SOURCE_DIR}/resources")

if(VELMORA_INSTALL_LAYOUT STREQUAL "folder")
    # `cmake --install <build> --prefix <folder>` lays the folder out the way the game ships: the
    # launcher, README.html, its icon and desktop entry, and the game directory holding the
    # stand-in until a real game is put there.
    install(TARGETS velmora-launcher RUNTIME DESTINATION .)
    install(TARGETS orvane orvane-window RUNTIME DESTINATION ${game_exe_dir})
    install(FILES ${resources}/README.html ${resources}/README.de.html
                  ${resources}/velmora-launcher.svg DESTINATION .)
elseif(VELMORA_INSTALL_LAYOUT STREQUAL "system")
    # The same folder as the program's private files under lib/velmora, a command on the PATH that
    # links to the launcher (which follows the link through /proc/self/exe), and what desktops and
    # software centres read.
    set(app_dir "lib/velmora")
    install(TARGETS velmora-launcher RUNTIME DESTINATION ${app_dir})
    install(TARGETS orvane orvane-window RUNTIME DESTINATION ${app_dir}/${game_exe_dir})
    install(FILES ${resources}/README.html ${resources}/README.de.html DESTINATION ${app_dir})
    install(CODE "
        file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/games\")
        file(CREATE_LINK ../${app_dir}/velmora-launcher
             \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/games/velmora-launcher\" SYMBOLIC)
        message(STATUS \"Installing: \$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/games/velmora-launcher\")")
    install(FILES ${resources}/velmora-launcher.svg DESTINATION share/icons/hicolor/scalable/apps)
    install(FILES ${resources}/velmora-launcher.6 DESTINATION share/man/man6)
    # The release in the metainfo is the project's version, dated as the changelog's newest entry
    # (its trailer line, "-- name <address>  Tue, 08 Dec 2026 14:45:00 +0000"), so that the date
    # is written in one place. The web address is the project's placeholder until it has a home of
    # its own.
    set(changelog "${PROJECT_SOURCE_DIR}/debian/changelog")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${changelog}")
    file(STRINGS "${changelog}" trailers REGEX "^ -- ")
    list(GET trailers 0 trailer)
    if(NOT trailer MATCHES ">  [A-Z][a-z][a-z], ([0-9]?[0-9]) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) ")
        message(FATAL_ERROR "debian/changelog: no date in the newest entry's trailer \"${trailer}\"")
    endif()
    set(day "${CMAKE_MATCH_1}")
    set(year "${CMAKE_MATCH_3}")
    set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
    list(FIND months "${CMAKE_MATCH_2}" month)
    if(month EQUAL -1)
        message(FATAL_ERROR "debian/changelog: no month \"${CMAKE_MATCH_2}\" in \"${trailer}\"")
    endif()
    math(EXPR month "${month} + 1")
    string(LENGTH "${day}" length)
    if(length EQUAL 1)
        set(day "0${day}")
    endif()
    if(month LESS 10)
        set(month "0${month}")
    endif()
    set(VELMORA_RELEASE_DATE "${year}-${month}-${day}")
    set(VELMORA_HOMEPAGE "https://velmora.example/")
    set(VELMORA_APPSTREAM_ID "example.velmora.launcher")
    configure_file(${resources}/velmora-launcher.metainfo.xml.in
                   ${CMAKE_BINARY_DIR}/velmora-launcher.metainfo.xml @ONLY)
    install(FILES ${CMAKE_BINARY_DIR}/velmora-launcher.metainfo.xml
            DESTINATION share/metainfo RENAME ${VELMORA_APPSTREAM_ID}.metainfo.xml)
else()
    message(FATAL_ERROR "VELMORA_INSTALL_LAYOUT is \"${VELMORA_INSTALL_LAYOUT}\": use folder or system")
endif()

# The desktop entry names the prefix it is installed to, so it is written at install time.
install(CODE "set(VELMORA_DESKTOP_TEMPLATE \"${resources}/velmora-launcher.desktop.in\")
              set(VELMORA_DESKTOP_LAYOUT \"${VELMORA_INSTALL_LAYOUT}\")")
install(SCRIPT ${PROJECT_SOURCE_DIR}/cmake/InstallDesktopEntry.cmake)
