# The Debian package: `cpack -G DEB` in the build folder writes kestrune_<version>_<arch>.deb with
# what cmake --install puts under /usr: the VST 2 module in /usr/lib/vst (component plugin), the LV2
# bundle in /usr/lib/lv2 when it is built (component lv2), and the tool with its plot script,
# manual page and bash completion (component tools), beside the copyright file and the changelog.
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
set(CPACK_PACKAGE_CONTACT "Brisk Lantern <kestrune@brisk-lantern.invalid>")
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

# Packed ELF files lose their compiler notes (.comment), which plain strip keeps; CPack's
# dependency scan finds the VST module under /usr/lib and adds maintainer scripts that run ldconfig,
# which a plug-in loaded by its path never needs, so the package is rebuilt without them.
set(CPACK_PRE_BUILD_SCRIPTS "${CMAKE_CURRENT_LIST_DIR}/PackageStripComments.cmake")
set(CPACK_POST_BUILD_SCRIPTS "${CMAKE_CURRENT_LIST_DIR}/PackageDropLdconfig.cmake")
set(CPACK_KESTRUNE_OBJCOPY "${CMAKE_OBJCOPY}")

# Debian wants the licence as the package's copyright file, and the changelog, compressed as
# dpkg-deb would (-n: no name or time stamp, so the same text gives the same file).
install(FILES "${PROJECT_SOURCE_DIR}/LICENSE" DESTINATION share/doc/kestrune RENAME copyright COMPONENT tools)
set(kestrune_changelog "${CMAKE_CURRENT_LIST_DIR}/changelog")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${kestrune_changelog}")
file(STRINGS "${kestrune_changelog}" kestrune_changelog_head LIMIT_COUNT 1)
string(REGEX MATCH "^kestrune \\(([^)]*)\\) " kestrune_changelog_entry "${kestrune_changelog_head}")
if(NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "${kestrune_changelog} starts with '${kestrune_changelog_head}': "
                      "give version ${PROJECT_VERSION} its entry at the top")
endif()
find_program(KESTRUNE_GZIP gzip REQUIRED)
add_custom_command(OUTPUT "${PROJECT_BINARY_DIR}/changelog.gz"
  COMMAND "${CMAKE_COMMAND}" -E copy "${kestrune_changelog}" "${PROJECT_BINARY_DIR}/changelog"
  COMMAND "${KESTRUNE_GZIP}" -9nf "${PROJECT_BINARY_DIR}/changelog"
  DEPENDS "${kestrune_changelog}"
  COMMENT "Compressing the changelog"
  VERBATIM)
add_custom_target(kestrune_changelog ALL DEPENDS "${PROJECT_BINARY_DIR}/changelog.gz")
# The tool's component installs it, so whatever builds the tool alone (the demo, the archives) makes it too.
if(TARGET kestrune)
  add_dependencies(kestrune kestrune_changelog)
endif()
install(FILES "${PROJECT_BINARY_DIR}/changelog.gz" DESTINATION share/doc/kestrune COMPONENT tools)

include(CPack)
