# Where an install puts everything (cmake --install, and the Debian package):
#   bin/                                   palvero, palvero-service (palvero-desktop when built)
#   share/palvero/                         the logo (palvero.svg)
#   share/man/man1/                        palvero.1.gz, palvero-service.1.gz (man/)
#   share/bash-completion/completions/     palvero, palvero-service (man/)
#   share/applications/                    the desktop entry (with the desktop app)
#   share/icons/hicolor/<size>/apps/       palvero.png, scalable/apps/palvero.svg
#   lib/systemd/user/                      palvero.service
include(GNUInstallDirs)

set(PALVERO_INSTALLED_PROGRAMS)
foreach(program palvero palvero-service palvero-desktop)
  if(TARGET ${program})
    list(APPEND PALVERO_INSTALLED_PROGRAMS ${program})
  endif()
endforeach()
install(TARGETS ${PALVERO_INSTALLED_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

set(PALVERO_ICON_SVG ${PROJECT_SOURCE_DIR}/resources/icons/palvero.svg)
# The notifications name the logo by its path beside the program when the
# icon theme does not have it (an install outside XDG_DATA_DIRS).
install(FILES ${PALVERO_ICON_SVG} DESTINATION ${CMAKE_INSTALL_DATADIR}/palvero)
install(FILES ${PALVERO_ICON_SVG} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# The bitmap sizes of the icon theme, rendered from the logo at build time.
set(PALVERO_ICON_SIZES 16 22 24 32 48 64 128 256 512)
find_program(PALVERO_RSVG_CONVERT rsvg-convert)
if(PALVERO_RSVG_CONVERT)
  set(icons)
  foreach(size IN LISTS PALVERO_ICON_SIZES)
    set(png ${CMAKE_BINARY_DIR}/icons/${size}x${size}/palvero.png)
    add_custom_command(
      OUTPUT ${png}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/icons/${size}x${size}
      COMMAND ${PALVERO_RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${PALVERO_ICON_SVG}
      DEPENDS ${PALVERO_ICON_SVG}
      COMMENT "Icon ${size}x${size}")
    list(APPEND icons ${png})
    install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
  add_custom_target(palvero_icons ALL DEPENDS ${icons})
else()
  message(WARNING "rsvg-convert (librsvg2-bin) not found: only the scalable icon is installed")
endif()

# The desktop entry starts palvero-desktop: installed with it.
if(TARGET palvero-desktop)
  install(FILES ${PROJECT_SOURCE_DIR}/resources/palvero.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
          RENAME ${PALVERO_BUNDLE_ID}.desktop)
endif()

# The user unit names the installed program, so it is filled in when it is
# installed: the prefix of a package build is not the build's own.
install(CODE "
  set(PALVERO_BINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
  configure_file(\"${PROJECT_SOURCE_DIR}/resources/palvero.service.in\"
                 \"${CMAKE_BINARY_DIR}/install-unit/palvero.service\" @ONLY)
  file(INSTALL \"${CMAKE_BINARY_DIR}/install-unit/palvero.service\"
       DESTINATION \"\${CMAKE_INSTALL_PREFIX}/lib/systemd/user\")
")
# The same unit naming the build's program, for `systemd-analyze verify`.
if(TARGET palvero)
  set(PALVERO_BINDIR $<TARGET_FILE_DIR:palvero>)
  file(READ ${PROJECT_SOURCE_DIR}/resources/palvero.service.in unit_text)
  string(REPLACE "@PALVERO_BINDIR@" "$<TARGET_FILE_DIR:palvero>" unit_text "${unit_text}")
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/unit/palvero.service CONTENT "${unit_text}")
endif()
