# Installing Tessaro like any desktop game: the program, its menu entry, its icon in the
# hicolor theme, its AppStream metainfo and its manual page; and a Debian package of it all.
include(GNUInstallDirs)

set(TESSARO_DATA ${PROJECT_SOURCE_DIR}/data)
set(TESSARO_PICTURES ${PROJECT_SOURCE_DIR}/src/app/resources)
set(TESSARO_ICON_SIZES 16 22 24 32 48 64 128 256)

install(TARGETS tessaro RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${TESSARO_DATA}/tessaro.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${TESSARO_DATA}/io.github.tessaro.Tessaro.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${TESSARO_PICTURES}/tessaro.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size IN LISTS TESSARO_ICON_SIZES)
  install(FILES ${TESSARO_PICTURES}/tessaro-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME tessaro.png)
endforeach()
install(FILES ${TESSARO_DATA}/man/tessaro.6 DESTINATION ${CMAKE_INSTALL_MANDIR}/man6)
install(FILES ${TESSARO_DATA}/man/fr/tessaro.6 DESTINATION ${CMAKE_INSTALL_MANDIR}/fr/man6)

set(CPACK_PACKAGE_NAME tessaro)
set(CPACK_PACKAGE_VENDOR "L'équipe Tessaro")
set(CPACK_PACKAGE_CONTACT "L'équipe Tessaro <equipe@tessaro.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "four in a row for two players on two computers")
set(CPACK_PACKAGE_DESCRIPTION "Tessaro is four in a row on a 7 x 6 board, played by two people on
two computers over one TCP connection, with a chat column beside the
board, the players' names and a running score. The interface is French.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://tessaro.github.io/")
set(CPACK_STRIP_FILES ON)
include(CPack)
