# `cpack -G DEB` in a build directory makes a Debian package of what
# `cmake --install` puts in place: /usr/bin/wexlo and its stubs in
# /usr/lib/wexlo. dpkg-shlibdeps reads the installed system's own package
# database, so the packer's library dependencies are worked out offline.
set(WEXLO_DEB_MAINTAINER "Wexlo maintainers <maintainers@wexlo.invalid>" CACHE STRING
    "Maintainer field of the .deb")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME wexlo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "packs an Erlang/Elixir release into one executable")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${WEXLO_DEB_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
