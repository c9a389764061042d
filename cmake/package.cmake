# The kit as operators install it: loaderkit_<version>_amd64.deb, built by scripts/package.sh from
# the kit preset. The program, its manual page, the nginx snippet, the systemd socket and service
# of the download responder, the hourly timer and service of the funnel page, its settings file
# and the operators' documentation.
set(KIT_DEB ${CMAKE_SOURCE_DIR}/kit/debian)
set(KIT_STAGE ${CMAKE_BINARY_DIR}/package)
# Debian wants manual pages and changelogs compressed, without a time stamp in the gzip header.
foreach(pair "kit/loaderkit.1;loaderkit.1.gz" "kit/debian/changelog;changelog.gz")
  list(GET pair 0 source)
  list(GET pair 1 target)
  add_custom_command(OUTPUT ${KIT_STAGE}/${target}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${KIT_STAGE}
    COMMAND gzip -9 -n -c ${CMAKE_SOURCE_DIR}/${source} > ${KIT_STAGE}/${target}
    DEPENDS ${CMAKE_SOURCE_DIR}/${source} VERBATIM)
  list(APPEND KIT_STAGED ${KIT_STAGE}/${target})
endforeach()
add_custom_target(kit_package_files ALL DEPENDS ${KIT_STAGED})

install(TARGETS loaderkit RUNTIME DESTINATION bin)
install(FILES ${KIT_STAGE}/loaderkit.1.gz DESTINATION share/man/man1)
# The operators' guide with what it links to: the reference, the loader's guide, the figures and
# their pictures (the package test follows every link).
install(FILES ${KIT_DEB}/copyright ${KIT_STAGE}/changelog.gz ${CMAKE_SOURCE_DIR}/docs/operators.md
        ${CMAKE_SOURCE_DIR}/docs/loaderkit.md ${CMAKE_SOURCE_DIR}/docs/loader.md ${CMAKE_SOURCE_DIR}/docs/benchmarks.md
        DESTINATION share/doc/loaderkit)
install(FILES ${CMAKE_SOURCE_DIR}/docs/images/funnel.png ${CMAKE_SOURCE_DIR}/docs/images/failed-arabic.png
        ${CMAKE_SOURCE_DIR}/docs/images/failed-hebrew.png DESTINATION share/doc/loaderkit/images)
install(FILES ${KIT_DEB}/loaderkit-download.socket ${KIT_DEB}/loaderkit-download.service
        ${KIT_DEB}/loaderkit-funnel-page.service ${KIT_DEB}/loaderkit-funnel-page.timer
        DESTINATION /lib/systemd/system)
install(FILES ${KIT_DEB}/download.conf DESTINATION /etc/loaderkit)
install(FILES ${KIT_DEB}/loaderkit-download.nginx DESTINATION /etc/nginx/snippets RENAME loaderkit-download.conf)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME loaderkit)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_SET_DESTDIR ON)  # the units and /etc files have absolute destinations
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The loader project <loaderkit@halvorn.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# libpq is opened at run time (a PostgreSQL store), which dpkg-shlibdeps cannot see.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libpq5")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "nginx")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "osslsigncode, spawn-fcgi")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "stamp, scramble and serve the casino client loader")
set(CPACK_PACKAGE_DESCRIPTION "loaderkit writes and reads the distribution stamp of the loader\n\
(keeping its signature), scrambles configuration replies, builds a static\n\
download site in every language, and answers each download with a freshly\n\
stamped copy: a resident FastCGI responder behind nginx, started by systemd\n\
from a socket.")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${KIT_DEB}/conffiles ${KIT_DEB}/postinst ${KIT_DEB}/prerm ${KIT_DEB}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
