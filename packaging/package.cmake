# The Debian package, made by CPack from the install rules (scripts/package.sh builds it). The
# install rules stay the one list of what goes where: a debian/ folder for debhelper would be a
# second one to keep in step, for one binary package without maintainer scripts (the desktop,
# file-type, icon and man-page databases are refreshed by their own packages' triggers). Its
# dependencies come from the programs themselves: dpkg-shlibdeps reads the libraries they link,
# and the codec library they open at run time is looked up in the package database.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME recaster)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${KX_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "upgrade old 3D Scene files into static 3D Props")
# The synopsis is the summary; this is the extended description below it, in the control file's
# form (a lone "." is an empty line). No double quotes: CPack writes it into its configuration as
# it stands.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Recaster loads the 3D Scene files (.crv) written by the older Fabler
release, tells whether they are plain 3D scenes, converts them into static
3D Props (.fbprop) that Fabler 3 accepts, and writes them in the current
container layout with their thumbnail.
.
The package holds the desktop dialog recaster-gui and the command-line tool
recaster, which also checks, describes, re-saves and batch-converts scene
files, extracts their pictures and sounds and exports them as glTF 2.0. It
registers the file types and a thumbnailer, so that file managers show each
scene's stored thumbnail.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

# The codec library is opened by its soname on the first picture, so no tool can see it in the
# programs: its package, and the version its shlibs file asks for, come from the package that
# holds the library the build found.
function(kx_package_of_library library out)
  set(${out} "" PARENT_SCOPE)
  find_program(KX_DPKG_QUERY dpkg-query)
  if(NOT KX_DPKG_QUERY)
    return()
  endif()
  execute_process(COMMAND ${KX_DPKG_QUERY} -S ${library}
    OUTPUT_VARIABLE owner RESULT_VARIABLE failed ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(failed OR NOT owner MATCHES "^([^:, ]+)(:[^:, ]+)?: ")
    return()
  endif()
  set(package ${CMAKE_MATCH_1})
  set(dependency ${package})
  execute_process(COMMAND ${KX_DPKG_QUERY} --control-path ${package} shlibs
    OUTPUT_VARIABLE shlibs_file ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(shlibs_file AND EXISTS "${shlibs_file}")
    # "libGraphicsMagick-Q16 3 libgraphicsmagick-q16-3 (>= 1.4)": name and major of the soname.
    get_filename_component(soname ${library} NAME)
    if(soname MATCHES "^(.+)\\.so\\.([0-9]+)")
      set(key "${CMAKE_MATCH_1} ${CMAKE_MATCH_2} ")
      file(STRINGS "${shlibs_file}" lines)
      foreach(line IN LISTS lines)
        string(FIND "${line}" "${key}" at)
        if(at EQUAL 0)
          string(LENGTH "${key}" skip)
          string(SUBSTRING "${line}" ${skip} -1 dependency)
          break()
        endif()
      endforeach()
    endif()
  endif()
  set(${out} ${dependency} PARENT_SCOPE)
endfunction()

kx_package_of_library(${KX_MAGICK_REAL_LIBRARY} KX_MAGICK_PACKAGE)
if(KX_MAGICK_PACKAGE)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "${KX_MAGICK_PACKAGE}")
else()
  message(WARNING "No package holds ${KX_MAGICK_REAL_LIBRARY}: the Debian package will not "
                  "depend on the codec library")
endif()

include(CPack)
