# The Debian package of the headless relay for Linux servers:
# `cmake --build --preset native --target package` writes
# vorlane-relay_<version>_amd64.deb into the build folder. Only the "relay"
# component is packed, so the tests and the benchmark stay out of it.
# The program is built with Debian's hardening flags (cmake/VorlaneHardening.cmake).
set(linux_files ${PROJECT_SOURCE_DIR}/packaging/linux)
set(deb_files ${PROJECT_BINARY_DIR}/deb)
set(doc_folder share/doc/vorlane-relay)

# The changelog's newest entry is the version being packed: bumping the
# version in project() needs a new entry in packaging/linux/changelog.
file(STRINGS ${linux_files}/changelog changelog_head LIMIT_COUNT 1)
if(NOT changelog_head MATCHES "^vorlane-relay \\(${PROJECT_VERSION}\\) ")
    message(FATAL_ERROR "packaging/linux/changelog starts with '${changelog_head}': "
        "add an entry for version ${PROJECT_VERSION}")
endif()

# Debian wants manual pages and changelogs gzipped with no name or time stamp
# in the header (-n), so that the same sources give the same package.
configure_file(${linux_files}/vorlane-relay.1.in ${deb_files}/vorlane-relay.1 @ONLY)
add_custom_command(OUTPUT ${deb_files}/vorlane-relay.1.gz ${deb_files}/changelog.gz
    COMMAND gzip -9n -c ${deb_files}/vorlane-relay.1 > ${deb_files}/vorlane-relay.1.gz
    COMMAND gzip -9n -c ${linux_files}/changelog > ${deb_files}/changelog.gz
    DEPENDS ${deb_files}/vorlane-relay.1 ${linux_files}/changelog
    VERBATIM)
add_custom_target(vorlane_relay_docs ALL
    DEPENDS ${deb_files}/vorlane-relay.1.gz ${deb_files}/changelog.gz)

# dpkg marks every file under /etc that the package lists as a conffile: an
# edited one survives upgrades and goes only with dpkg --purge.
file(WRITE ${deb_files}/conffiles "/etc/vorlane/example.ini\n")

install(TARGETS vorlane-relay RUNTIME DESTINATION bin COMPONENT relay)
# A stripped program still holds the compilers' names (.comment); dh_strip
# would drop them too.
install(CODE "if(CMAKE_INSTALL_DO_STRIP)
    execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
        \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin/vorlane-relay\" COMMAND_ERROR_IS_FATAL ANY)
endif()" COMPONENT relay)
install(FILES ${deb_files}/vorlane-relay.1.gz DESTINATION share/man/man1 COMPONENT relay)
install(FILES ${linux_files}/copyright ${deb_files}/changelog.gz
    DESTINATION ${doc_folder} COMPONENT relay)
# Debian 12 keeps units in /lib (its usr-merge moves them only later).
install(FILES "${linux_files}/vorlane-relay@.service"
    DESTINATION /lib/systemd/system COMPONENT relay)
install(FILES ${linux_files}/example.ini DESTINATION /etc/vorlane COMPONENT relay)

set(CPACK_GENERATOR DEB)
set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};Vorlane;relay;/")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Folders 0755 whatever the umask of whoever builds.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(VORLANE_DEB_MAINTAINER "Vorlane developers <vorlane@example.org>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_DEBIAN_PACKAGE_NAME vorlane-relay)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VORLANE_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# CPack puts CPACK_PACKAGE_DESCRIPTION_SUMMARY before it as the synopsis.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "vorlane-relay listens on one local TCP port and relays every client that
connects to one target address and port, copying bytes both ways. It serves
IPv4 and IPv6, limits and filters clients, logs one line per connection and
can export Prometheus metrics.
.
Optionally every byte passes through a fixed byte map, so that two relays,
one at each end of a link, carry disguised traffic between them. The map has
no key: it is a disguise, not encryption.
.
A systemd template unit runs one hardened relay per configuration file in
/etc/vorlane.")
# The maintainer scripts tell a running systemd of the unit, restart running
# relays after an upgrade and stop them on removal.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${deb_files}/conffiles ${linux_files}/postinst
    ${linux_files}/prerm ${linux_files}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
