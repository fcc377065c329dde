# Installation (cmake --install, make install) and the Debian package (make deb).
# Nothing absolute is compiled in: kva finds ../share/kva beside its own folder.
include(GNUInstallDirs)

install(TARGETS kva kva-export kva-makepack RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Manual pages, compressed as Debian keeps them; gzip -n leaves no date in
# the file, so the package is the same bytes on every build.
set(KVA_MAN_PAGES kva.6 kva-export.1 kva-makepack.1)
set(KVA_MAN_OUTPUTS)
foreach(page ${KVA_MAN_PAGES})
  set(source ${CMAKE_SOURCE_DIR}/dist/man/${page})
  set(output ${CMAKE_BINARY_DIR}/man/${page}.gz)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND gzip -9 -n -c ${source} > ${output}
    DEPENDS ${source} VERBATIM)
  list(APPEND KVA_MAN_OUTPUTS ${output})
  string(REGEX MATCH "[0-9]$" section ${page})
  install(FILES ${output} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endforeach()

set(KVA_CHANGELOG ${CMAKE_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${KVA_CHANGELOG}
  COMMAND gzip -9 -n -c ${CMAKE_SOURCE_DIR}/dist/changelog > ${KVA_CHANGELOG}
  DEPENDS ${CMAKE_SOURCE_DIR}/dist/changelog VERBATIM)
add_custom_target(kva_docs ALL DEPENDS ${KVA_MAN_OUTPUTS} ${KVA_CHANGELOG})

install(FILES ${CMAKE_SOURCE_DIR}/dist/kva.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME copyright)
install(FILES ${KVA_CHANGELOG} DESTINATION ${CMAKE_INSTALL_DOCDIR})
if(KVA_PACK)
  install(FILES ${KVA_PACK_FILE} DESTINATION ${CMAKE_INSTALL_DATADIR}/kva)
  install(FILES ${KVA_ICON_FILE} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps)
endif()

# make deb: kva_<version>_amd64.deb, its library dependencies computed by
# dpkg-shlibdeps; ffmpeg only for kva-export's videos, the fonts only for
# kva-makepack.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kva)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "KVA developers <kva@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "self-running fullscreen music-video show")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "A moose dances to a synthesized folk-dance tune under a sunset for 192\n"
  "seconds, with scrolling lyric banners, every frame composed in software.\n"
  "kva-export renders the show as a video file; kva-makepack draws and\n"
  "composes its pictures and song.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "ffmpeg, fonts-dejavu-core")
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
include(CPack)
