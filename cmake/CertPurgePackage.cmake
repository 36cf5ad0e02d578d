# What a Debian package of the program holds beyond the install rules of the
# folders: README, copyright, changelog; and the CPack settings for the .deb
# that scripts/package builds. Only shipped files have install rules: the
# token simulator, test, demo and benchmark programs install nothing.

set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/${PROJECT_NAME})
set(CPACK_PACKAGE_CONTACT "Tavrenor developers <certpurge@example.org>")

execute_process(COMMAND date -u -R -d @${CERTPURGE_RELEASE_EPOCH}
  OUTPUT_VARIABLE CERTPURGE_RELEASE_DATE_RFC5322 OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
set(changelog ${CMAKE_BINARY_DIR}/packaging/changelog)
configure_file(packaging/changelog.in ${changelog} @ONLY)
# gzip -n: no name or time stamp, so the package is the same every build.
add_custom_command(OUTPUT ${changelog}.gz
  COMMAND sh -c "gzip -9nc '${changelog}' > '${changelog}.gz'"
  DEPENDS ${changelog}
  VERBATIM)
add_custom_target(certpurge_changelog ALL DEPENDS ${changelog}.gz)

install(FILES README.md packaging/copyright ${changelog}.gz DESTINATION ${doc_dir})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tavrenor developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "delete the out-of-date certificates on a USB token")
set(CPACK_PACKAGE_DESCRIPTION "Tavrenor lists the X.509 certificates on the Ulda USB token,
through the token's PKCS#11 module, and shows the expired and superseded
ones in red. On request it deletes them with their key pairs, after a
confirmation and a PIN login. The window's texts are Simplified Chinese.

The read-only command certpurge-list prints the same list for scripts, as
tab-separated lines or JSON.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Without a CJK font every text of the window is a box: a dependency,
# which dpkg-shlibdeps' list is added to. p11-kit's proxy is where the
# programs turn when no qemva_11.dll is found.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-noto-cjk | fonts-arphic-uming")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "p11-kit-modules")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)
