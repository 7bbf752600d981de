# The Debian package vantoro-config_<version>_<arch>.deb, made by CPack from
# the install rules (scripts/package). Its library dependencies come from
# dpkg-shlibdeps; the Qt platform plugins are added by hand because no binary
# links them: without one the program cannot open a window.

set(VANTORO_PACKAGE_MAINTAINER "Vantoro Config maintainers <maintainers@users.noreply.c-seed-40f10d80.example>"
  CACHE STRING "Maintainer field of the Debian package")

set(doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/vantoro-config)
set(changelog_gz ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
add_custom_command(OUTPUT ${changelog_gz}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/packaging
  COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/packaging/changelog > ${changelog_gz}
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog
  COMMENT "Compressing the changelog")
add_custom_target(vantoro_changelog ALL DEPENDS ${changelog_gz})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${changelog_gz} DESTINATION ${doc_dir})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vantoro-config)
set(CPACK_PACKAGE_VENDOR "The Vantoro Config developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${VANTORO_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# xcb for X11 sessions (and Xwayland); the native Wayland plugin is a bonus.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
# The Ansible collection vantoro.cameras runs vantoro on each site host.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "ansible-core")
# setcap, for the postinst that grants vantoro CAP_NET_RAW (its ARP probes).
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${CPACK_DEBIAN_PACKAGE_DEPENDS}, libcap2-bin")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "find network cameras and edit their configuration
Vantoro Config finds network cameras on a LAN by UDP broadcast, or one
camera at a typed address. After a login against the camera's own user
table it shows and edits the camera's network settings, its users and
their rights, and its domain-name table, and writes the three
configuration records back to the camera in an acknowledged sequence.
.
The package also holds vantoro-camera-sim, which serves simulated cameras
for trying the tool without hardware, and the Ansible collection
vantoro.cameras, which runs vantoro on the hosts of many sites.")

include(CPack)
