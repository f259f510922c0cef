# Run by `cmake --install`: writes the desktop entry for the folder being installed to. The paths in
# it are the prefix's, not a DESTDIR staging folder's, and are escaped as desktop entries need:
# inside the quoted Exec value \ " ` $ take a backslash and % is doubled; every value then has its
# backslashes doubled once more.
set(folder "${CMAKE_INSTALL_PREFIX}")

set(exec "${folder}/velmora-launcher")
foreach(special "\\" "\"" "`" "$")
    string(REPLACE "${special}" "\\${special}" exec "${exec}")
endforeach()
string(REPLACE "%" "%%" exec "${exec}")
string(REPLACE "\\" "\\\\" VELMORA_EXEC "${exec}")
string(REPLACE "\\" "\\\\" VELMORA_INSTALL_DIR "${folder}")

set(entry "$ENV{DESTDIR}${folder}/velmora-launcher.desktop")
configure_file("${VELMORA_DESKTOP_TEMPLATE}" "${entry}" @ONLY)
message(STATUS "Installing: ${entry}")
