# What the Debian package carries beyond the programs and the desktop entry (manual pages,
# AppStream metadata, copyright, changelog), and the package itself: `make package` builds
# vokey_<version>_<arch>.deb with CPack in build-package/, `make check-package` checks it.
# The version is project(VERSION) everywhere.
set(VOKEY_PACKAGE_MAINTAINER "VOKEY maintainers <vokey@example.org>"
    CACHE STRING "The Maintainer field of the Debian package")
# The AppStream component id: reverse-DNS, as software centres expect.
set(VOKEY_APPSTREAM_ID org.vokey.vokey)

set(packaging ${CMAKE_SOURCE_DIR}/packaging)
set(made ${CMAKE_BINARY_DIR}/packaging)
set(docdir ${CMAKE_INSTALL_DATADIR}/doc/${PROJECT_NAME})

# Manual pages with the version filled in, compressed as Debian installs them (gzip -n: no
# name or time stamp inside, so that the same sources make the same package).
set(compressed "")
foreach(page vokey vokey-station vokey-replay vokey-guard)
    configure_file(${CMAKE_SOURCE_DIR}/docs/man/${page}.1.in ${made}/${page}.1 @ONLY)
    list(APPEND compressed ${made}/${page}.1.gz)
    add_custom_command(OUTPUT ${made}/${page}.1.gz
        COMMAND gzip -9nkf ${made}/${page}.1
        DEPENDS ${made}/${page}.1 VERBATIM)
    install(FILES ${made}/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
configure_file(${packaging}/changelog.in ${made}/changelog @ONLY)
list(APPEND compressed ${made}/changelog.gz)
add_custom_command(OUTPUT ${made}/changelog.gz COMMAND gzip -9nkf ${made}/changelog
    DEPENDS ${made}/changelog VERBATIM)
add_custom_target(vokey_package_documents ALL DEPENDS ${compressed})
install(FILES ${made}/changelog.gz ${packaging}/copyright DESTINATION ${docdir})

configure_file(${packaging}/vokey.metainfo.xml.in ${made}/${VOKEY_APPSTREAM_ID}.metainfo.xml
    @ONLY)
install(FILES ${made}/${VOKEY_APPSTREAM_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${VOKEY_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "voice-operated transmit switch for radio amateurs")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION hamradio)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# rigctld, the rig-control server VOKEY keys the radios through.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS libhamlib-utils)
# The long description; CPack puts the summary above it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "VOKEY listens to a sound-card input and keys the transmitter (push-to-talk)
while the operator speaks: through Hamlib's rigctld (CAT) and by raising DTR
and RTS of a serial port. When the voice stops it holds transmit for the Delay
time and releases it. Two radios serve two-radio contest operation.
.
The package holds the program with its window (vokey), the same station
without a display (vokey-station, for a station computer), the transmit guard
both start (vokey-guard) and vokey-replay, which tries Gain and Delay on
recordings.")
include(CPack)
