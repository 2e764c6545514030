# What a host developer gets: bin/ (DLL, CLI), include/, lib/ (import
# libraries, export list), the docs, and the virtual peripheral to try a host
# without the hardware. CPack makes one ZIP per architecture.
install(TARGETS tarnwick RUNTIME DESTINATION bin ARCHIVE DESTINATION lib)
install(TARGETS tarnwick-cli RUNTIME DESTINATION bin)
install(FILES ${CMAKE_BINARY_DIR}/include/tarnwick.h DESTINATION include)
install(FILES ${TARNWICK_MSVC_LIB} src/library/tarnwick.def DESTINATION lib)
install(FILES README.md docs/api.md DESTINATION doc)
install(FILES examples/host.c DESTINATION doc/examples)
install(TARGETS vperiph RUNTIME DESTINATION virtual_peripheral ARCHIVE DESTINATION virtual_peripheral)
install(TARGETS winmm_standin setupapi_standin vperiph-registry RUNTIME DESTINATION virtual_peripheral)
install(FILES tools/virtual_peripheral/vperiph.h tools/virtual_peripheral/README.md
              tools/virtual_peripheral/demo.vp
        DESTINATION virtual_peripheral)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME tarnwick)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME tarnwick-${PROJECT_VERSION}-${TARNWICK_ARCH})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
include(CPack)
