# The Debian package: both programs, the desktop entry, icons, AppStream
# metadata and the catalogue's systemd user unit. `cpack -G DEB` in a build
# folder makes it.
include(GNUInstallDirs)

# The unit names the program where this installation puts it, which is known
# only when installing (cpack installs under /usr).
set(unit ${CMAKE_BINARY_DIR}/packaging/lumivale-catalog.service)
install(CODE "set(LUMIVALE_BINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
configure_file(\"${CMAKE_CURRENT_LIST_DIR}/lumivale-catalog.service.in\" \"${unit}\" @ONLY)")
install(FILES ${unit} DESTINATION lib/systemd/user)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lumivale)
set(CPACK_PACKAGE_VENDOR "Lumivale")
set(CPACK_PACKAGE_CONTACT "Lumivale developers <lumivale@users.noreply.github.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Live video wallpapers for Linux desktops")
set(CPACK_PACKAGE_DESCRIPTION
    "Lumivale plays short looping videos as the desktop wallpaper, with a gallery of\n"
    "wallpapers to browse, preview, like and apply. lumivale-catalog serves a\n"
    "catalogue of wallpapers from a folder of videos.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION x11)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What the shared-library scan cannot see: the plugins and QML modules loaded
# at run time, the font the gallery draws with, the tools the tests use not.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qt6-qpa-plugins, libqt6svg6, libqt6sql6-sqlite, libqt6sql6-psql, libgl1-mesa-dri, \
qml6-module-qtquick, qml6-module-qtquick-window, qml6-module-qtquick-layouts, \
qml6-module-qtquick-controls, qml6-module-qtquick-templates, qml6-module-qtquick-shapes, \
qml6-module-qtqml-workerscript, qml6-module-qtqml-models, fonts-inter")
include(CPack)
