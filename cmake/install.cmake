# Installation (cmake --install, make install) and the Debian package (make
# deb, through cmake/make-deb.sh). Nothing absolute is compiled in: kva finds
# ../share/kva beside its own folder.
#
# KVA is an amusement to watch, so it is filed with the games, as Debian
# files such programs: the programs in games/, their manual pages in section
# 6, the package in section games and the menu entry under Game;Amusement.
include(GNUInstallDirs)

set(KVA_INSTALL_GAMESDIR games CACHE PATH "Folder of the programs, under the prefix")
set(KVA_HOMEPAGE "https://example.org/kva" CACHE STRING "The project's home page")
set(KVA_APP_ID org.example.kva)

install(TARGETS kva kva-export kva-makepack RUNTIME DESTINATION ${KVA_INSTALL_GAMESDIR})
# A stripped install (cpack, cmake --install --strip) also drops the
# compiler's version notes, as Debian's own packages do.
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    foreach(program kva kva-export kva-makepack)
      execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment --remove-section=.note
        \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${KVA_INSTALL_GAMESDIR}/\${program}\"
        COMMAND_ERROR_IS_FATAL ANY)
    endforeach()
  endif()")

# Manual pages, compressed as Debian keeps them; gzip -n leaves no date in
# the file, so the package is the same bytes on every build.
set(KVA_MAN_PAGES kva.6 kva-export.6 kva-makepack.6)
set(KVA_DOC_OUTPUTS)
foreach(page ${KVA_MAN_PAGES})
  set(source ${CMAKE_SOURCE_DIR}/dist/man/${page})
  set(output ${CMAKE_BINARY_DIR}/man/${page}.gz)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND gzip -9 -n -c ${source} > ${output}
    DEPENDS ${source} VERBATIM)
  list(APPEND KVA_DOC_OUTPUTS ${output})
  string(REGEX MATCH "[0-9]$" section ${page})
  install(FILES ${output} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endforeach()

set(KVA_CHANGELOG ${CMAKE_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${KVA_CHANGELOG}
  COMMAND gzip -9 -n -c ${CMAKE_SOURCE_DIR}/dist/changelog > ${KVA_CHANGELOG}
  DEPENDS ${CMAKE_SOURCE_DIR}/dist/changelog VERBATIM)
list(APPEND KVA_DOC_OUTPUTS ${KVA_CHANGELOG})

# The software centres' entry, its release read from the changelog's newest
# entry: "kva (VERSION) ..." and its " -- NAME <MAIL>  Www, DD Mmm YYYY ..."
# line.
file(STRINGS ${CMAKE_SOURCE_DIR}/dist/changelog kva_changelog_head LIMIT_COUNT 12)
set(KVA_RELEASE_VERSION)
set(KVA_RELEASE_DATE)
foreach(line IN LISTS kva_changelog_head)
  if(NOT KVA_RELEASE_VERSION AND line MATCHES "^kva \\(([^)]+)\\)")
    set(KVA_RELEASE_VERSION ${CMAKE_MATCH_1})
  elseif(NOT KVA_RELEASE_DATE AND line MATCHES "^ -- .*  [A-Z][a-z][a-z], ([0-9]+) ([A-Z][a-z][a-z]) ([0-9]+) ")
    set(day ${CMAKE_MATCH_1})
    set(year ${CMAKE_MATCH_3})
    set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
    list(FIND months ${CMAKE_MATCH_2} month)
    math(EXPR month "${month} + 1")
    string(LENGTH "${day}" day_digits)
    if(day_digits EQUAL 1)
      set(day 0${day})
    endif()
    if(month LESS 10)
      set(month 0${month})
    endif()
    if(month GREATER 0)
      set(KVA_RELEASE_DATE ${year}-${month}-${day})
    endif()
  endif()
endforeach()
if(NOT KVA_RELEASE_VERSION STREQUAL PROJECT_VERSION OR NOT KVA_RELEASE_DATE)
  message(FATAL_ERROR "dist/changelog's newest entry (${KVA_RELEASE_VERSION}, "
    "${KVA_RELEASE_DATE}) does not give version ${PROJECT_VERSION} and a date")
endif()
set(KVA_METAINFO ${CMAKE_BINARY_DIR}/${KVA_APP_ID}.metainfo.xml)
configure_file(${CMAKE_SOURCE_DIR}/dist/${KVA_APP_ID}.metainfo.xml.in ${KVA_METAINFO} @ONLY)

install(FILES ${CMAKE_SOURCE_DIR}/dist/${KVA_APP_ID}.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${KVA_METAINFO} DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${CMAKE_SOURCE_DIR}/dist/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${KVA_CHANGELOG} DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The menu icon at the sizes menus and software centres ask for, each drawn
# at its size by the pack maker (the 256 one with the pack).
if(KVA_PACK)
  foreach(size 48 64 128)
    set(icon ${CMAKE_BINARY_DIR}/icons/${size}x${size}/kva.png)
    add_custom_command(OUTPUT ${icon}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/icons/${size}x${size}
      COMMAND kva-makepack --icon ${icon}.tmp --size ${size}
      COMMAND ${CMAKE_COMMAND} -E rename ${icon}.tmp ${icon}
      DEPENDS kva-makepack VERBATIM)
    list(APPEND KVA_DOC_OUTPUTS ${icon})
    install(FILES ${icon} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
  install(FILES ${KVA_PACK_FILE} DESTINATION ${CMAKE_INSTALL_DATADIR}/kva)
  install(FILES ${KVA_ICON_FILE} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps)
endif()
# The manual pages, the changelog and the smaller icons.
add_custom_target(kva_docs ALL DEPENDS ${KVA_DOC_OUTPUTS})

# make deb: kva_<version>_amd64.deb, its library dependencies computed by
# dpkg-shlibdeps; ffmpeg only for kva-export's videos, the fonts only for
# kva-makepack. CPack dates every file SOURCE_DATE_EPOCH (cmake/make-deb.sh
# sets it) and xz keeps no date of its own.
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
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${KVA_HOMEPAGE})
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)
