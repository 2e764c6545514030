# What a host developer gets: bin/ (DLL, CLI), include/, lib/ (import
# libraries, export list, the CMake package and the pkg-config file), the
# docs and license, and the virtual peripheral to try a host without the
# hardware. One ZIP per architecture, with its SHA-256 beside it.
include(CMakePackageConfigHelpers)

install(TARGETS tarnwick RUNTIME DESTINATION bin ARCHIVE DESTINATION lib)
install(FILES ${PROJECT_BINARY_DIR}/include/tarnwick.h DESTINATION include)
install(FILES src/library/tarnwick.def ${TARNWICK_MSVC_LIB} DESTINATION lib)
install(FILES LICENSE README.md docs/api.md DESTINATION doc)
install(FILES examples/host.c examples/CMakeLists.txt DESTINATION doc/examples)

# Found by find_package(tarnwick CONFIG) as tarnwick::tarnwick; relocatable,
# and compatible within one major version and one pointer size.
set(TARNWICK_HAS_MSVC_IMPORT_LIBRARY ${TARNWICK_MSVC_IMPORT_LIBRARY})
configure_package_config_file(cmake/tarnwickConfig.cmake.in
  ${PROJECT_BINARY_DIR}/cmake-package/tarnwickConfig.cmake
  INSTALL_DESTINATION lib/cmake/tarnwick)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/cmake-package/tarnwickConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/cmake-package/tarnwickConfig.cmake
              ${PROJECT_BINARY_DIR}/cmake-package/tarnwickConfigVersion.cmake
        DESTINATION lib/cmake/tarnwick)
configure_file(cmake/tarnwick.pc.in ${PROJECT_BINARY_DIR}/cmake-package/tarnwick.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/cmake-package/tarnwick.pc DESTINATION lib/pkgconfig)

# virtual_peripheral/ holds, at its top, what goes beside a host program:
# the redirected library and tool, the two forwarders they import, vperiph.dll
# and the description it reads by default; and the tool that redirects a
# host's own program the same way. The stand-ins under the system's
# own names, for testing the shipped DLL under Wine with DLL overrides, are
# kept apart in override/, so that copying the folder's files never shadows a
# host's own WinMM; the control interface for test hosts is in sdk/.
if(TARNWICK_BUILD_TOOLS)
  install(TARGETS tarnwick-cli RUNTIME DESTINATION bin)
  install(PROGRAMS ${VP_REDIRECTED} DESTINATION virtual_peripheral)
  install(TARGETS vperiph RUNTIME DESTINATION virtual_peripheral
          ARCHIVE DESTINATION virtual_peripheral/sdk)
  install(TARGETS vpwmm vpsetapi vperiph-registry RUNTIME DESTINATION virtual_peripheral)
  install(TARGETS winmm_standin setupapi_standin RUNTIME DESTINATION virtual_peripheral/override)
  # The driver Wine's own winmm loads and its Unix part, the folder
  # WINEDLLPATH names; apart from the top files, which keep to the redirected
  # way.
  install(TARGETS winevp RUNTIME DESTINATION virtual_peripheral/wine)
  install(FILES ${WINE_DRIVER_UNIX} DESTINATION virtual_peripheral/wine)
  install(FILES tools/virtual_peripheral/vperiph.h DESTINATION virtual_peripheral/sdk)
  install(FILES tools/virtual_peripheral/README.md DESTINATION virtual_peripheral)
  install(PROGRAMS tools/virtual_peripheral/redirect_imports.py DESTINATION virtual_peripheral)
  install(FILES tools/virtual_peripheral/demo.vp DESTINATION virtual_peripheral RENAME vperiph.vp)
endif()

# The release package, made by tools/release/kit.py from an install of this
# tree: the same bytes for the same commit (sorted entries, the source's
# time, no extra fields), with its SHA-256 beside it. It needs a Python 3,
# which a build of the library alone may not have.
set(TARNWICK_KIT_NAME tarnwick-${PROJECT_VERSION}-${TARNWICK_ARCH})
file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/kit-release.txt CONTENT
     "name=${TARNWICK_KIT_NAME}\nepoch=${TARNWICK_SOURCE_DATE_EPOCH}\ncmake=${CMAKE_COMMAND}\n")
find_program(TARNWICK_ZIP_PYTHON python3)
if(TARNWICK_ZIP_PYTHON)
  set(shipped tarnwick)
  if(TARNWICK_BUILD_TOOLS)
    list(APPEND shipped tarnwick-cli virtual_peripheral)
  endif()
  if(TARNWICK_MSVC_IMPORT_LIBRARY)
    list(APPEND shipped tarnwick_msvc_lib)
  endif()
  add_custom_target(release-zip
    COMMAND ${TARNWICK_ZIP_PYTHON} ${PROJECT_SOURCE_DIR}/tools/release/kit.py zip
            ${PROJECT_BINARY_DIR}
    COMMENT "Release package ${TARNWICK_KIT_NAME}.zip")
  add_dependencies(release-zip ${shipped})
endif()
