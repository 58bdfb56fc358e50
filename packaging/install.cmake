# Install rules: the two programs, their man pages, the shell completions, the desktop entry and
# icon, the file types and the thumbnailer, each in the usual place under the prefix. The build
# fills the version into the man pages and compresses them, and renders the icon at the sizes
# desktops look for.

install(TARGETS recaster RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET recaster-gui)
  install(TARGETS recaster-gui RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# Dates in what the build writes come from SOURCE_DATE_EPOCH when it is set (scripts/package.sh
# sets it to the commit's time), so that the same commit gives the same files.
string(TIMESTAMP KX_MAN_DATE "%Y-%m-%d" UTC)
set(KX_CLUSTER_SCRIPT "${CMAKE_INSTALL_FULL_LIBEXECDIR}/recaster/convert-share.sh")

# Man pages.
set(KX_MAN_PAGES)
foreach(page recaster recaster-gui)
  if(page STREQUAL "recaster-gui" AND NOT TARGET recaster-gui)
    continue()
  endif()
  set(man ${CMAKE_BINARY_DIR}/man/${page}.1)
  configure_file(${CMAKE_SOURCE_DIR}/docs/man/${page}.1.in ${man} @ONLY)
  add_custom_command(OUTPUT ${man}.gz
    COMMAND gzip -9 -n -k -f ${man}
    DEPENDS ${man} VERBATIM)
  list(APPEND KX_MAN_PAGES ${man}.gz)
endforeach()
add_custom_target(man_pages ALL DEPENDS ${KX_MAN_PAGES})
install(FILES ${KX_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# Shell completions. Debian's zsh looks in vendor-completions for what packages install, every
# zsh in site-functions under other prefixes.
if(NOT KX_ZSH_COMPLETION_DIR)
  if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    set(KX_ZSH_COMPLETION_DIR ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions)
  else()
    set(KX_ZSH_COMPLETION_DIR ${CMAKE_INSTALL_DATADIR}/zsh/site-functions)
  endif()
endif()
install(FILES ${CMAKE_SOURCE_DIR}/data/completions/recaster.bash
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME recaster)
install(FILES ${CMAKE_SOURCE_DIR}/data/completions/_recaster DESTINATION ${KX_ZSH_COMPLETION_DIR})

# File types and the thumbnailer that shows each scene's stored thumbnail in file managers.
install(FILES ${CMAKE_SOURCE_DIR}/data/recaster-mime.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME recaster.xml)
install(FILES ${CMAKE_SOURCE_DIR}/data/recaster.thumbnailer
  DESTINATION ${CMAKE_INSTALL_DATADIR}/thumbnailers)

# The dialog's desktop entry and the icon: the drawing itself, and pictures of it at the sizes
# desktops look for first, rendered with the codec library's command-line tool.
if(TARGET recaster-gui)
  install(FILES ${CMAKE_SOURCE_DIR}/data/recaster-gui.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  set(icon ${CMAKE_SOURCE_DIR}/data/icons/recaster.svg)
  find_program(KX_GM gm REQUIRED)
  set(KX_ICONS)
  foreach(size 16 22 24 32 48 64 128 256)
    set(png ${CMAKE_BINARY_DIR}/icons/${size}x${size}/recaster.png)
    add_custom_command(OUTPUT ${png}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/icons/${size}x${size}
      COMMAND ${KX_GM} convert -background none ${icon} -resize ${size}x${size} -depth 8
              +profile * ${png}
      DEPENDS ${icon} VERBATIM)
    list(APPEND KX_ICONS ${png})
    install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
  add_custom_target(icons ALL DEPENDS ${KX_ICONS})
  install(FILES ${icon} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()

# The script of the user guide's batches over many machines (a container runs it as its
# command), and the example scene.
install(PROGRAMS ${CMAKE_SOURCE_DIR}/examples/cluster/convert-share.sh
  DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/recaster)
install(FILES ${CMAKE_SOURCE_DIR}/examples/sample_scene.crv
  DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

# The copyright and the change log every Debian package carries in its documentation folder.
set(KX_PACKAGE_MAINTAINER "Recaster developers <recaster@example.org>" CACHE STRING
  "Maintainer of the Debian package, as Name <address>")
string(TIMESTAMP KX_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${CMAKE_SOURCE_DIR}/packaging/changelog.in ${CMAKE_BINARY_DIR}/packaging/changelog
  @ONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/packaging/changelog.gz
  COMMAND gzip -9 -n -k -f ${CMAKE_BINARY_DIR}/packaging/changelog
  DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog VERBATIM)
add_custom_target(changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright ${CMAKE_BINARY_DIR}/packaging/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DOCDIR})
