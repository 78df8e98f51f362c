# The Debian package: `cpack -G DEB` in a build folder makes quellpost_<version>_<arch>.deb.
include(GNUInstallDirs)

# A placeholder until the project has a web address; the metainfo file names the same one.
set(QP_HOMEPAGE "https://quellpost.invalid/")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quellpost)
set(CPACK_PACKAGE_VENDOR "Quellpost")
set(CPACK_PACKAGE_CONTACT "Quellpost maintainers <maintainers@quellpost.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "SMTP server on port 25 that shows the mail your software sends")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "Quellpost is a desktop tool for developers who want to see the mail their software sends.\n"
  "It runs an SMTP server on port 25 that answers every client positively, relays nothing and\n"
  "keeps every message in memory. Its main window shows the captured messages one at a time\n"
  "(step, delete, search by sender, recipient or body); a log window records what the server\n"
  "and the built-in test client do.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${QP_HOMEPAGE})
# The Qt, C and C++ runtime packages, and libcurl4 for release, with their versions come from the
# linked libraries.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# setcap for the post-install step; Liberation Sans stands in for Arial, the window's font;
# libcrypto, loaded at run time for the TLS certificate, so not seen among the linked libraries.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libcap2-bin, fonts-liberation, libssl3")

# The post-install step lets the installed program bind port 25 without root.
set(QP_INSTALLED_PROGRAM ${CPACK_PACKAGING_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/quellpost)
configure_file(${CMAKE_CURRENT_LIST_DIR}/postinst.in ${PROJECT_BINARY_DIR}/packaging/postinst @ONLY)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/packaging/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
