# What `cmake --install` puts where. The programs go to bin; the driver libraries they load
# at run time to a folder of their own (ZANDREL_INSTALL_DRIVERDIR), which the programs reach
# from their own folder (platform/DynamicLibrary.cpp), so no environment variable is needed.

install(TARGETS zandrel zandrel-flash zandrel-nodesim zandrel-mkimage
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS VARNIX QVX_COPN QVX_DNET
        LIBRARY DESTINATION ${ZANDREL_INSTALL_DRIVERDIR} NAMELINK_SKIP)

install(FILES packaging/zandrel.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES packaging/zandrel.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES docs/zandrel-flash.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# Example firmware files for the simulated nodes, to try an update without a real network.
install(DIRECTORY examples/ DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/zandrel/examples
        FILES_MATCHING PATTERN "*.hex" PATTERN "README.md")
