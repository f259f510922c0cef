# Run by `cmake --install`: writes the desktop entry for the prefix being installed to. The paths in
# it are the prefix's, not a DESTDIR staging folder's, and are escaped as desktop entries need: a
# command path with a reserved character is quoted, and inside the quotes \ " ` $ take a backslash;
# % is doubled; every value then has its backslashes doubled once more.
# Set before it runs: VELMORA_DESKTOP_TEMPLATE, and VELMORA_DESKTOP_LAYOUT ("folder": the entry
# lies in the launcher folder and names it and its icon by path; "system": the entry goes to
# share/applications, starts the command in games and names the icon from the theme).
set(prefix "${CMAKE_INSTALL_PREFIX}")
if(VELMORA_DESKTOP_LAYOUT STREQUAL "system")
    set(exec "${prefix}/games/velmora-launcher")
    set(icon "velmora-launcher")
    set(entry "$ENV{DESTDIR}${prefix}/share/applications/velmora-launcher.desktop")
else()
    set(exec "${prefix}/velmora-launcher")
    set(icon "${prefix}/velmora-launcher.svg")
    set(entry "$ENV{DESTDIR}${prefix}/velmora-launcher.desktop")
endif()

set(quote "")
foreach(reserved " " "\t" "\n" "\"" "'" "\\" ">" "<" "~" "|" "&" ";" "$" "*" "?" "#" "(" ")" "`")
    string(FIND "${exec}" "${reserved}" at)
    if(NOT at EQUAL -1)
        set(quote "\"")
    endif()
endforeach()
if(quote)
    foreach(special "\\" "\"" "`" "$")
        string(REPLACE "${special}" "\\${special}" exec "${exec}")
    endforeach()
endif()
string(REPLACE "%" "%%" exec "${exec}")
string(REPLACE "\\" "\\\\" VELMORA_EXEC "${quote}${exec}${quote}")
string(REPLACE "\\" "\\\\" VELMORA_INSTALL_DIR "${prefix}")
string(REPLACE "\\" "\\\\" VELMORA_ICON "${icon}")

file(READ "${VELMORA_DESKTOP_TEMPLATE}" text)
string(CONFIGURE "${text}" text @ONLY)
if(VELMORA_DESKTOP_LAYOUT STREQUAL "system")
    # The launcher finds its folder through its own executable; an installed command needs no
    # working directory.
    string(REGEX REPLACE "\nPath=[^\n]*" "" text "${text}")
endif()
file(WRITE "${entry}" "${text}")
message(STATUS "Installing: ${entry}")
