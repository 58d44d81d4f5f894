# The Debian package (scripts/package builds it with cpack in the build
# folder): what `cmake --install` puts under the prefix, and the package's
# control fields. Included once every program's target exists.
#
# Contents, under /usr:
#   bin/                             the program, the tools, the sample site
#   share/applications/              hotelcrawler.desktop (applications menu)
#   share/icons/hicolor/scalable/apps/hotelcrawler.svg
#   share/doc/hotelcrawler/          README.md, copyright, changelog.Debian.gz
#   share/lintian/overrides/hotelcrawler
include(GNUInstallDirs)

# Directories the install creates are 755 whatever the umask of the
# packaging user is (dpkg and lintian expect that of /usr/share/...).
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# Every program in one place; some folders also install their own, which
# installs the same file again and changes nothing.
install(TARGETS
    hotelcrawler hotelcrawler-export hotelcrawler-extract hotelcrawler-initdb
    hotelcrawler-sample-site
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/hotelcrawler.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/hotelcrawler.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME hotelcrawler)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
# hotelcrawler_<version>-<release>_<arch>.deb, in <build>/package/.
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "hotelcrawler developers <hotelcrawler@example.org>")
set(CPACK_PACKAGE_CONTACT ${CPACK_DEBIAN_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_VENDOR "The hotelcrawler authors")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop crawler gathering hotel information into a database")
set(CPACK_PACKAGE_DESCRIPTION [=[
hotelcrawler searches a hotel-search web site for the destination codes typed
into its window, walks the result pages, loads every hotel's detail page and
keeps the extracted sections in an SQLite or PostgreSQL database. An
interrupted crawl resumes where it stopped.
.
The package also holds the command-line tools hotelcrawler-initdb (creates
or upgrades the database tables), hotelcrawler-extract (extracts saved or
fetched detail pages as JSON) and hotelcrawler-export (prints the kept
hotels as CSV or JSON lines, or a summary per destination), and
hotelcrawler-sample-site, a small hotel-search site on the loopback
interface to try the program against.]=])

# The shared libraries come from the binaries (dpkg-shlibdeps). Qt loads the
# SQL drivers and the display plugin at run time, so no binary names them:
# they are listed here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-sqlite, libqt6sql6-psql, qt6-qpa-plugins")
# The build type keeps debug information (RelWithDebInfo); the package ships
# the same optimised binaries stripped of it.
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# Debian wants its documentation in /usr/share/doc/<package>: the copyright
# file and a changelog compressed without a timestamp (gzip -n), so that the
# same sources give the same file.
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in
  ${CMAKE_BINARY_DIR}/packaging/changelog.Debian @ONLY)
execute_process(
  COMMAND gzip -9nc ${CMAKE_BINARY_DIR}/packaging/changelog.Debian
  OUTPUT_FILE ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz
  COMMAND_ERROR_IS_FATAL ANY)
set(_hc_docdir ${CMAKE_INSTALL_DATADIR}/doc/${CPACK_PACKAGE_NAME})
install(FILES
    ${PROJECT_SOURCE_DIR}/README.md
    ${PROJECT_SOURCE_DIR}/packaging/copyright
    ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz
  DESTINATION ${_hc_docdir})
# The lintian tags that do not apply to this package, each with its reason.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/lintian-overrides
  DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME ${CPACK_PACKAGE_NAME})

include(CPack)
