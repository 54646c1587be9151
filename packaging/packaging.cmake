# Installation and Debian packages. Two components: "core" (the Kaleocore
# shared and static libraries, public headers, pkg-config and CMake package
# files, kaleocmd with its manual page and bash completion) and "viewer" (the
# Winelib program, its launcher, desktop entry and icon; see app/viewer.cmake).
#   cmake --install build [--component core]       cpack --config build/CPackConfig.cmake
include(CMakePackageConfigHelpers)

# The library.
install(TARGETS kaleocore_shared kaleocore EXPORT KaleocoreTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT core NAMELINK_COMPONENT core
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT core)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/include/kaleocore DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  COMPONENT core FILES_MATCHING PATTERN "*.h")
set(KALEO_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Kaleocore)
install(EXPORT KaleocoreTargets NAMESPACE Kaleocore:: DESTINATION ${KALEO_CMAKE_DIR} COMPONENT core)
configure_package_config_file(${CMAKE_SOURCE_DIR}/packaging/KaleocoreConfig.cmake.in
  ${CMAKE_BINARY_DIR}/KaleocoreConfig.cmake INSTALL_DESTINATION ${KALEO_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/KaleocoreConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/KaleocoreConfig.cmake ${CMAKE_BINARY_DIR}/KaleocoreConfigVersion.cmake
  DESTINATION ${KALEO_CMAKE_DIR} COMPONENT core)
# The pkg-config file names the prefix the files are installed under (cmake
# --install --prefix, or /usr in the packages); under another root (DESTDIR)
# pkg-config finds them with PKG_CONFIG_SYSROOT_DIR.
install(CODE "
  set(KALEO_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  set(CMAKE_INSTALL_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
  set(CMAKE_INSTALL_INCLUDEDIR \"${CMAKE_INSTALL_INCLUDEDIR}\")
  set(PROJECT_VERSION \"${PROJECT_VERSION}\")
  configure_file(\"${CMAKE_SOURCE_DIR}/packaging/kaleocore.pc.in\" \"${CMAKE_BINARY_DIR}/pc/kaleocore.pc\" @ONLY)
  file(INSTALL \"${CMAKE_BINARY_DIR}/pc/kaleocore.pc\"
       DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig\")
" COMPONENT core)

# kaleocmd, with the manual page and completion written from its own help.
install(TARGETS kaleocmd RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT core)
add_executable(kaleodoc ${CMAKE_SOURCE_DIR}/packaging/kaleodoc.cpp)
target_compile_options(kaleodoc PRIVATE ${KALEO_WARNINGS})
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/kaleocmd.1.gz ${CMAKE_BINARY_DIR}/kaleocmd.bash
  COMMAND ${CMAKE_COMMAND} -DKALEOCMD=$<TARGET_FILE:kaleocmd> -DKALEODOC=$<TARGET_FILE:kaleodoc>
          -DOUT=${CMAKE_BINARY_DIR} -P ${CMAKE_SOURCE_DIR}/packaging/gendoc.cmake
  DEPENDS kaleocmd kaleodoc ${CMAKE_SOURCE_DIR}/packaging/gendoc.cmake
  COMMENT "Writing kaleocmd's manual page and bash completion from its help" VERBATIM)
add_custom_target(kaleocmd_doc ALL DEPENDS ${CMAKE_BINARY_DIR}/kaleocmd.1.gz ${CMAKE_BINARY_DIR}/kaleocmd.bash)
install(FILES ${CMAKE_BINARY_DIR}/kaleocmd.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT core)
install(FILES ${CMAKE_BINARY_DIR}/kaleocmd.bash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
  RENAME kaleocmd COMPONENT core)

# The viewer: the Winelib program in a folder of its own, started by a launcher.
if(TARGET kaleos)
  install(PROGRAMS $<TARGET_FILE:kaleos>.so DESTINATION lib/kaleos COMPONENT viewer)
  install(PROGRAMS ${CMAKE_SOURCE_DIR}/packaging/kaleos-launcher.sh DESTINATION ${CMAKE_INSTALL_BINDIR}
    RENAME kaleos COMPONENT viewer)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/kaleos.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
    COMPONENT viewer)
  # The desktop icon: the program icon, drawn by kaleosart, converted by kaleocmd.
  add_custom_command(OUTPUT ${KALEOS_ART}/kaleos.png
    COMMAND kaleocmd -quiet -overwrite ${KALEOS_ART}/kaleos48.bmp -o ${KALEOS_ART}/kaleos.png
    DEPENDS kaleocmd ${KALEOS_ART_FILES} COMMENT "Writing the viewer's desktop icon" VERBATIM)
  add_custom_target(kaleosicon ALL DEPENDS ${KALEOS_ART}/kaleos.png)
  install(FILES ${KALEOS_ART}/kaleos.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/48x48/apps
    COMPONENT viewer)
endif()

# Debian packages: kaleocore (library and kaleocmd) and kaleos (the viewer).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kaleos)
set(CPACK_PACKAGE_VENDOR "Kaleos")
set(CPACK_PACKAGE_CONTACT "Kaleos maintainers <kaleos@localhost>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_CORE_PACKAGE_NAME kaleocore)
set(CPACK_DEBIAN_CORE_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_CORE_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_CORE_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_COMPONENT_CORE_DESCRIPTION "Kaleocore image-format library and the kaleocmd converter
Kaleocore identifies, examines, loads and saves raster images in more than
a hundred formats and applies colour reductions, filters, tone adjustments,
geometry and effects. This package holds the shared and static libraries,
their headers, pkg-config and CMake package files, and kaleocmd, the
command-line converter, with its manual page and bash completion.")
set(CPACK_DEBIAN_VIEWER_PACKAGE_NAME kaleos)
set(CPACK_COMPONENT_VIEWER_DESCRIPTION "Kaleos image viewer, browser and converter (French interface)
A Win32 program built with Winelib that views, browses, converts and
prints images in the formats of Kaleocore. It runs under Wine.")
# The viewer is a Winelib program: Wine runs it, beside the libraries it links.
set(CPACK_DEBIAN_VIEWER_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_VIEWER_PACKAGE_DEPENDS "wine (>= 8.0~), wine64 (>= 8.0~)")
set(CPACK_DEBIAN_VIEWER_PACKAGE_RECOMMENDS "kaleocore (= ${PROJECT_VERSION}-1)")
set(CPACK_COMPONENTS_ALL core)
if(TARGET kaleos)
  list(APPEND CPACK_COMPONENTS_ALL viewer)
endif()
include(CPack)

# Installs into a temporary root and into unpacked packages, and uses the
# library, kaleocmd and the viewer's launcher from there.
if(KALEO_TESTS AND NOT KALEO_SANITIZE)
  add_test(NAME package_install
    COMMAND sh ${CMAKE_SOURCE_DIR}/packaging/test-install.sh ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR})
  set_tests_properties(package_install PROPERTIES TIMEOUT 300)
endif()
