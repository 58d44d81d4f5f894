# The Debian package (scripts/package builds it with cpack in the build
# folder): what `cmake --install` puts under the prefix, and the package's
# control fields. Included once every program's target exists.
#
# Contents, under /usr:
#   bin/                             the program, the tools, the sample site
#   share/applications/              hotelcrawler.desktop (applications menu)
#   share/icons/hicolor/scalable/apps/hotelcrawler.svg
#   share/man/man1/                  a manual page per program
#   share/doc/hotelcrawler/          README.md, copyright, changelog.Debian.gz
#   share/doc/hotelcrawler/docs/     the documents the README's index links to
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
into its window, walks the result pages, loads every hotel's detail page in
an embedded browser engine (scripts, styles and one cookie session) and
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
# SQL drivers and the display plugin at run time, and the browser engine
# starts its page processes from QtWebEngineProcess (libqt6webenginecore6-bin),
# so no binary names them: they are listed here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "libqt6sql6-sqlite, libqt6sql6-psql, qt6-qpa-plugins, libqt6webenginecore6-bin")
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
# The README links into docs/ (and shows its screenshot): installed beside it,
# its links work in the installed copy too.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${_hc_docdir}/docs
  FILES_MATCHING PATTERN "*.md" PATTERN "*.png")
# Manual pages, gzipped without a timestamp: the window program's written
# by hand (it takes no options), each tool's made by help2man from the
# tool's own --help and --version when installing, so that they cannot
# drift apart and a plain build does not need help2man.
set(_hc_mandir ${CMAKE_BINARY_DIR}/packaging/man)
file(MAKE_DIRECTORY ${_hc_mandir})
execute_process(
  COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/packaging/hotelcrawler.1
  OUTPUT_FILE ${_hc_mandir}/hotelcrawler.1.gz
  COMMAND_ERROR_IS_FATAL ANY)
find_program(HC_HELP2MAN help2man)
function(_hc_tool_manpage tool summary)
  set(_page ${_hc_mandir}/${tool}.1)
  set(_exe "$<TARGET_FILE:${tool}>")
  if(HC_HELP2MAN)
    string(CONFIGURE [=[
      execute_process(
        COMMAND "@HC_HELP2MAN@" --no-info --name "@summary@" --output "@_page@" "@_exe@"
        COMMAND_ERROR_IS_FATAL ANY)
      execute_process(COMMAND gzip -9nf "@_page@" COMMAND_ERROR_IS_FATAL ANY)
    ]=] _code @ONLY)
  else()
    set(_code "message(FATAL_ERROR \"help2man is missing: it makes the manual page of ${tool}\")")
  endif()
  install(CODE "${_code}")
  install(FILES ${_page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()
install(FILES ${_hc_mandir}/hotelcrawler.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
_hc_tool_manpage(hotelcrawler-initdb "create or upgrade the tables of the hotelcrawler database")
_hc_tool_manpage(hotelcrawler-extract "extract hotel detail pages as hotelcrawler does, as JSON")
_hc_tool_manpage(hotelcrawler-export "write the hotels hotelcrawler kept as CSV, JSON lines or a workbook")
_hc_tool_manpage(hotelcrawler-sample-site "a small hotel-search web site on the loopback interface")

# The lintian tags that do not apply to this package, each with its reason.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/lintian-overrides
  DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME ${CPACK_PACKAGE_NAME})

include(CPack)
