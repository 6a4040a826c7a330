# The Debian package: `cpack -G DEB` in the build folder writes kestrune_<version>_<arch>.deb with
# what cmake --install puts under /usr: the VST 2 module in /usr/lib/vst (component plugin), the LV2
# bundle in /usr/lib/lv2 when it is built (component lv2), and the tool with its plot script,
# manual page and bash completion (component tools).
if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
  return()
endif()

set(kestrune_package_components plugin lv2 tools)
get_cmake_property(kestrune_installed_components COMPONENTS)
set(CPACK_COMPONENTS_ALL "")
foreach(component IN LISTS kestrune_package_components)
  if(component IN_LIST kestrune_installed_components)
    list(APPEND CPACK_COMPONENTS_ALL ${component})
  endif()
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrune)
set(CPACK_PACKAGE_VENDOR "Brisk Lantern")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
if("lv2" IN_LIST CPACK_COMPONENTS_ALL)
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "stereo sidechain compressor plug-in (VST 2.4, LV2) and command-line renderer")
else()
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "stereo sidechain compressor plug-in (VST 2.4) and command-line renderer")
endif()
set(CPACK_PACKAGE_DESCRIPTION
    "Kestrune is a feed-forward, stereo-linked, hard-knee peak compressor with a\n\
sidechain input, delivered as a VST 2.4 effect for hosts such as Ardour and\n\
Qtractor. The kestrune command runs audio files through it (or through another\n\
VST 2.4 effect) without a host, and draws what it did.")
set(CPACK_PACKAGE_CONTACT "Brisk Lantern")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY "${PROJECT_BINARY_DIR}/package")

# One package holding every component listed above.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_NAME kestrune)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps adds the libraries the programs link (libsndfile1, libsamplerate0, libc6,
# libstdc++6); the pictures are drawn by Python with matplotlib, which no link shows.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "python3, python3-matplotlib")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "ardour | qtractor")

# Debian wants the licence as the package's copyright file.
install(FILES "${PROJECT_SOURCE_DIR}/LICENSE" DESTINATION share/doc/kestrune RENAME copyright COMPONENT tools)

include(CPack)
