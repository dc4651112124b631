# `make package`: a Debian package (CPack's DEB generator) of everything `cmake --install`
# places, installed under /usr. Installing it registers the control in the system-wide class
# registry, so that every user's programs create it by its ProgID; removing it unregisters it.
quenvar_require_program(QUENVAR_DPKG_SHLIBDEPS NAMES dpkg-shlibdeps DEBIAN dpkg-dev)
quenvar_require_program(QUENVAR_FILE NAMES file DEBIAN file)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quenvar)
set(CPACK_PACKAGE_VENDOR Zelvo)
set(CPACK_PACKAGE_CONTACT "quenvar developers <quenvar@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
# The summary is the project's description; this is the text below it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "quenvar drives a two-way X10 power-line interface on an RS-232 port.

It installs the control quenvar.ocx (created by its ProgID Zelvo.quenvar),
the program quenvarsample with its two windows, the command-line tool
quenvar for scripts and cron jobs (commands that wait for the interface
and say how it went, and a monitor of the power line), the MQTT bridge
quenvar-mqtt with Home Assistant discovery (a systemd unit, settings in
/etc/quenvar/quenvar-mqtt.toml), the virtual power-line interface x10sim,
and quenvar-regsvr, which registers control modules.")
# The Qt, C and C++ libraries the programs link, as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/lib)

set(QUENVAR_INSTALLED_REGSVR ${CPACK_PACKAGING_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/quenvar-regsvr)
set(QUENVAR_INSTALLED_MODULE ${CPACK_PACKAGING_INSTALL_PREFIX}/${QUENVAR_INSTALL_LIBDIR}/quenvar.ocx)
set(QUENVAR_INSTALLED_BRIDGE_CONFIG ${CPACK_PACKAGING_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/quenvar/quenvar-mqtt.toml)
set(quenvar_maintainer_scripts)
foreach(script postinst prerm postrm)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/${script}.in ${CMAKE_BINARY_DIR}/packaging/debian/${script}
                 @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
                 WORLD_EXECUTE)
  list(APPEND quenvar_maintainer_scripts ${CMAKE_BINARY_DIR}/packaging/debian/${script})
endforeach()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${quenvar_maintainer_scripts})
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
