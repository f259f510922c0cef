# Run by `cmake --install`: writes the systemd user unit velmora-server.service for the prefix
# being installed to (not a DESTDIR staging folder), with velmora-server's path quoted as systemd
# reads it: inside double quotes \ and " take a backslash and % is doubled (a specifier otherwise).
# systemd refuses a program path holding a quote or a backslash outright, so such a path is
# handed to env as its argument instead, where a $ is doubled too (a variable otherwise).
# Set before it runs: VELMORA_UNIT_TEMPLATE, and VELMORA_UNIT_LAYOUT ("folder": the unit lies in
# the launcher folder, to be copied to ~/.config/systemd/user; "system": it goes to
# lib/systemd/user and runs the command in games).
set(prefix "${CMAKE_INSTALL_PREFIX}")
if(VELMORA_UNIT_LAYOUT STREQUAL "system")
    set(exec "${prefix}/games/velmora-server")
    set(unit "$ENV{DESTDIR}${prefix}/lib/systemd/user/velmora-server.service")
else()
    set(exec "${prefix}/velmora-server")
    set(unit "$ENV{DESTDIR}${prefix}/velmora-server.service")
endif()
set(program "")
if(exec MATCHES "[\\\"']")
    set(program "/usr/bin/env ")
    string(REPLACE "$" "$$" exec "${exec}")
endif()
foreach(special "\\" "\"")
    string(REPLACE "${special}" "\\${special}" exec "${exec}")
endforeach()
string(REPLACE "%" "%%" exec "${exec}")
set(VELMORA_SERVER_EXEC "${program}\"${exec}\"")
file(READ "${VELMORA_UNIT_TEMPLATE}" text)
string(CONFIGURE "${text}" text @ONLY)
file(WRITE "${unit}" "${text}")
message(STATUS "Installing: ${unit}")
