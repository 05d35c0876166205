# Writes wharfkeep.service for the prefix being installed into and installs
# it: under /usr (a distribution's prefix) in /lib/systemd/system, where
# Debian 12's packages put their units; elsewhere in <prefix>/lib/systemd/system
# (systemd reads /usr/local/lib/systemd/system too).
set(WHARFKEEP_PROGRAM "${CMAKE_INSTALL_PREFIX}/${HARNWICK_BINDIR}/wharfkeep")
configure_file("${HARNWICK_UNIT_TEMPLATE}" "${HARNWICK_UNIT_OUT}" @ONLY)
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(unitdir /lib/systemd/system)
else()
  set(unitdir "${CMAKE_INSTALL_PREFIX}/lib/systemd/system")
endif()
file(INSTALL "${HARNWICK_UNIT_OUT}" DESTINATION "${unitdir}"
     FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
