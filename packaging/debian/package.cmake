# SPDX-License-Identifier: MIT
# The Debian package (ZORVEK_DEBIAN_PACKAGE=ON, built by scripts/package):
# CPack's DEB generator packs the install rules of the whole tree, laid out as
# Debian expects of a program installed for the whole machine:
#
#   /usr/lib/zorvek/          the program folder: zorvek, libZorvek.so (loaded
#                             from the program's own folder) and zorvek-probe
#   /usr/bin/                 zorvek and zorvek-probe, links into that folder
#                             (the program finds its folder through
#                             /proc/self/exe, which resolves the links)
#   /usr/share/...            the menu entry (Exec=zorvek, from the PATH),
#                             icons, AppStream metadata, the gzip'ed manual page
#   /usr/share/doc/zorvek/    copyright and changelog.gz
#
# Included from the top-level CMakeLists.txt, which has already moved the
# program folder to lib/zorvek and the desktop entry to Exec=zorvek.

set(ZORVEK_DEBIAN_MAINTAINER "The Zorvek authors <maintainers@users.noreply.c-seed-cd0465da.example>"
    CACHE STRING "The Maintainer field of the Debian package")
set(debian_dir ${PROJECT_SOURCE_DIR}/packaging/debian)
set(debian_out ${PROJECT_BINARY_DIR}/debian)
file(MAKE_DIRECTORY ${debian_out})

# The changelog is kept by hand; its newest entry must be this version.
file(STRINGS ${debian_dir}/changelog changelog_top LIMIT_COUNT 1)
if(NOT changelog_top MATCHES "^zorvek \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/debian/changelog does not start with an entry for version "
                      "${PROJECT_VERSION}; add one (its first line: ${changelog_top})")
endif()

# The copyright file in Debian's machine-readable format, with the licence
# text of LICENSE (every line indented, empty lines written as " .").
file(READ ${PROJECT_SOURCE_DIR}/LICENSE licence)
string(REGEX REPLACE "^MIT License\n\n[^\n]*\n\n" "" licence "${licence}")
string(REGEX REPLACE "\n+$" "" licence "${licence}")
string(REPLACE "\n\n" "\n.\n" licence "${licence}")
string(REPLACE "\n" "\n " ZORVEK_LICENSE_TEXT " ${licence}")
configure_file(${debian_dir}/copyright.in ${debian_out}/copyright @ONLY)

# Debian keeps manual pages and changelogs compressed at the highest level,
# without a time stamp, so that builds are reproducible.
set(manual ${PROJECT_BINARY_DIR}/cli/zorvek-probe.1)
add_custom_command(OUTPUT ${debian_out}/zorvek-probe.1.gz ${debian_out}/changelog.gz
  COMMAND sh -c "gzip -9n -c \"$0\" >\"$1\"" ${manual} ${debian_out}/zorvek-probe.1.gz
  COMMAND sh -c "gzip -9n -c \"$0\" >\"$1\"" ${debian_dir}/changelog ${debian_out}/changelog.gz
  DEPENDS ${manual} ${debian_dir}/changelog
  VERBATIM)
add_custom_target(zorvek_debian_files ALL
  DEPENDS ${debian_out}/zorvek-probe.1.gz ${debian_out}/changelog.gz)

install(FILES ${debian_out}/zorvek-probe.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${debian_out}/copyright ${debian_out}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/zorvek)

# The commands on the PATH: relative links, as Debian's policy asks.
foreach(command IN ITEMS zorvek zorvek-probe)
  file(CREATE_LINK ../${ZORVEK_INSTALL_PROGRAMDIR}/${command} ${debian_out}/${command} SYMBOLIC)
  install(FILES ${debian_out}/${command} DESTINATION ${CMAKE_INSTALL_BINDIR})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zorvek)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
set(CPACK_PACKAGE_CONTACT "${ZORVEK_DEBIAN_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ZORVEK_DEBIAN_MAINTAINER}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # zorvek_VERSION_ARCH.deb
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the binaries link to, as dpkg-shlibdeps finds them; the
# companion library is opened at run time from the program folder.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Ordinary users probe through the system's ping on Debian; Qt needs its
# Wayland plugin to run natively on a Wayland desktop.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "iputils-ping, qt6-wayland")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "scheduled ping of one host from the notification area")
# The extended description; CPack puts the summary above it as the synopsis.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Zorvek lives in the notification area (system tray) and pings one network
host with ICMP echo on a schedule, only inside a daily time window. Its one
window sets the host, the interval, the window and whether probes are logged
and failures shown in a box. The user interface is Japanese.
.
The package also holds zorvek-probe, which probes a host once from the
command line.")
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
