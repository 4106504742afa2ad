# Packages through CPack: a .deb of the Linux programs, a .zip of the Windows program.
#   cpack -G DEB    (in a release build)  ->  tavrel_<version>_amd64.deb
#   cpack -G ZIP    (in the windows build) ->  tavrel-<version>-windows.zip

set(CPACK_PACKAGE_NAME tavrel)
set(CPACK_PACKAGE_VENDOR "The Tavrel developers")
set(CPACK_PACKAGE_CONTACT "The Tavrel developers <tavrel@users.noreply.github.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "read 125 kHz proximity tags through the sound input")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

if(WIN32)
  # tavrel.exe, LICENSE.txt and how to start it, in one folder that runs as it is.
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME tavrel-${PROJECT_VERSION}-windows)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/windows-start.txt DESTINATION . RENAME README.txt)
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  set(CPACK_PACKAGE_DESCRIPTION
    "Tavrel reads the ID of 125 kHz read-only proximity tags (EM4100 frame layout)
through the sound input: a reader front end puts the demodulated Manchester
signal on the right channel, Tavrel finds and checks 64-bit frames, logs every
read on the console and shows the number in a small window.
.
The package also holds tavrel-decode, which decodes sound recordings (WAV,
FLAC, raw and more, also from a pipe) the same way, and tavrel-gen, which
writes synthesized tag signals for tests.")

  # Debian wants the licence as copyright, the changelog gzipped, all under doc/tavrel.
  set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/tavrel)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in ${PROJECT_BINARY_DIR}/changelog @ONLY)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/changelog.gz
    COMMAND gzip -9n -c ${PROJECT_BINARY_DIR}/changelog > ${PROJECT_BINARY_DIR}/changelog.gz
    DEPENDS ${PROJECT_BINARY_DIR}/changelog)
  add_custom_target(tavrel-changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/changelog.gz)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${PROJECT_SOURCE_DIR}/README.md
    ${PROJECT_SOURCE_DIR}/CHANGELOG.md ${PROJECT_BINARY_DIR}/changelog.gz
    DESTINATION ${doc_dir})

  # The reader as a systemd service (a template, one instance per sound input), its
  # example options, and the maintainer scripts that stop and restart its instances.
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/tavrel-reader@.service
    DESTINATION lib/systemd/system)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/reader.conf DESTINATION ${doc_dir}/examples)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/debian/postinst
    ${PROJECT_SOURCE_DIR}/packaging/debian/prerm ${PROJECT_SOURCE_DIR}/packaging/debian/postrm)
endif()

include(CPack)
