# `cpack -G DEB` in the build folder: ombry_<version>_<arch>.deb from the install tree under /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ombry)
set(CPACK_PACKAGE_VENDOR Dovel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Run the playback of live shows")
set(CPACK_PACKAGE_DESCRIPTION
  "Ombry plays playlists of videos, stills, audio and slide decks onto a four-layer program that goes to full-screen displays, NDI, local frame sharing and browser output pages, driven from the main window, from phones and from any HTTP client on the network.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Debian ships binaries without their debug info.
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER Dovel)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The linked libraries are found by dpkg-shlibdeps; what is loaded at run time is named here: Qt's X11
# platform plugin, the GL libraries libepoxy opens and the icon font the windows' symbols come from (the NDI
# runtime is optional).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libegl1, libgl1, fonts-material-design-icons-iconfont")

include(CPack)
