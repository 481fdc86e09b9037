# Installed files and the Debian package (CPack's DEB generator; see
# scripts/build-deb.sh).
configure_file(${PROJECT_SOURCE_DIR}/packaging/heron.service.in
               ${PROJECT_BINARY_DIR}/heron.service @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/heron.service DESTINATION lib/systemd/system)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME heron)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Heron developers <heron@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "mail server suite for small offices")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "mail server suite for small offices\n Heron takes mail over SMTP, serves mailboxes over POP3, relays mail to\n other domains with retry queues and non-delivery reports, screens senders\n and keeps a trace log. osprey is the service, heronctl its administration\n command, kestrel the configuration applet.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # heron_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The desktop programs show Traditional Chinese.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-wqy-microhei | fonts-noto-cjk, qt6-translations-l10n")
# The applet opens the trace log and web pages with the desktop's opener.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/debian/postinst
    ${PROJECT_SOURCE_DIR}/packaging/debian/prerm
    ${PROJECT_SOURCE_DIR}/packaging/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
