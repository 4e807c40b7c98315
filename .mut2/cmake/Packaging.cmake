# `make deb`: one Debian package with the programs, the man pages, the
# completions, the icons, the desktop entry (with the desktop app) and the
# systemd user unit. Library dependencies come from dpkg-shlibdeps.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME palvero)
set(CPACK_PACKAGE_VENDOR "Palvero")
set(CPACK_PACKAGE_CONTACT "Palvero developers <dev@palvero.invalid>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop client of the Palvero online backup service")
set(CPACK_PACKAGE_DESCRIPTION
    "Palvero backs up the files of this computer to the Palvero online backup
service and restores them: files are cut into blocks named by their SHA-256,
only the blocks the service lacks are sent, deflated and AES-256 encrypted,
and each revision is recorded so that any earlier state can be restored.
.
This package holds the palvero command (with a daemon that runs as a systemd
user service), palvero-service, a substitute service for tests and demos,
their man pages and bash completions.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://palvero.invalid/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "dbus-user-session")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
# Directories 0755 whatever the umask of the build.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# The copyright file and changelog Debian requires of every package.
set(doc ${CMAKE_BINARY_DIR}/package-doc)
file(MAKE_DIRECTORY ${doc})
configure_file(${PROJECT_SOURCE_DIR}/resources/debian/copyright ${doc}/copyright COPYONLY)
configure_file(${PROJECT_SOURCE_DIR}/resources/debian/changelog.in ${doc}/changelog @ONLY)
add_custom_command(
  OUTPUT ${doc}/changelog.gz
  COMMAND gzip -9nfk ${doc}/changelog
  DEPENDS ${doc}/changelog)
add_custom_target(palvero_package_doc ALL DEPENDS ${doc}/changelog.gz)
install(FILES ${doc}/copyright ${doc}/changelog.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/palvero)

include(CPack)
