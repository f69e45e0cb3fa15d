# Runs at install time, when the prefix is known: the unit in packaging/ is
# written for an install in ~/.local; every other prefix gets its own paths
# to the binary and the module folder.
set(unit_dir "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${ZQT_USER_UNIT_DIR}")
set(unit "${unit_dir}/zqtca-service.service")
file(READ "${ZQT_UNIT_SOURCE}" text)
string(REPLACE "%h/.local/bin/" "${CMAKE_INSTALL_PREFIX}/bin/" text "${text}")
string(REPLACE "=%h/.local/lib/zqtca" "=${CMAKE_INSTALL_PREFIX}/lib/zqtca" text "${text}")
message(STATUS "Installing: ${unit}")
file(MAKE_DIRECTORY "${unit_dir}")
file(WRITE "${unit}" "${text}")
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${unit}")
