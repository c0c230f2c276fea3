# The Debian package (scripts/package.sh runs `cpack -G DEB` in a release build). Its
# dependencies are read from what the installed programs and drivers link (dpkg-shlibdeps),
# so they name the Qt 6 packages of the Debian release it was built on. The plugins Qt loads
# without the linker seeing them come with those same packages: the display platforms with
# libqt6gui6, the CAN bus backends (SocketCAN, virtual CAN) with libqt6serialbus6.

set(CPACK_PACKAGE_NAME zandrel)
set(CPACK_PACKAGE_VENDOR "Zandrel")
set(CPACK_PACKAGE_CONTACT "Zandrel developers <zandrel@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Firmware update for CANopen, DeviceNet and VARNIX field-bus nodes")
set(CPACK_PACKAGE_DESCRIPTION
    "Lists the nodes of a CANopen or DeviceNet network (or the VARNIX interface module) with
their identity, reads a node's table of firmware sectors, and erases, downloads, checks,
boots and restarts them from Intel HEX files. zandrel-flash does the same updates without
a window, for production lines and scripts, with a report in JSON. Simulated networks
are built in, to try it all without a bus.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The driver libraries are private to the programs: no shlibs file, no ldconfig.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)

include(CPack)
