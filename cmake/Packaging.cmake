# The portable folder as packages: `cmake --build build --target package` makes a tarball of
# the program (unpack it anywhere you can write and start orvik-converter there: config.cfg,
# temp/ and output/ appear beside it), `--target package_source` one of the sources.
install(TARGETS orvik-converter RUNTIME DESTINATION .)
# The terminal converter, when this tree builds one.
if(TARGET orvik-convert)
  install(TARGETS orvik-convert RUNTIME DESTINATION .)
endif()
install(FILES ${CMAKE_SOURCE_DIR}/docs/Help.html DESTINATION .)
install(FILES ${ORVIK_ICON_FILES} DESTINATION icons)

set(CPACK_PACKAGE_NAME orvik-converter)
set(CPACK_PACKAGE_VENDOR "Orvik Converter")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Audio-file converter with a Russian user interface")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR TGZ)
set(CPACK_PACKAGE_FILE_NAME "orvik-converter-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR}")
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_PACKAGE_FILE_NAME "orvik-converter-${PROJECT_VERSION}-source")
# Build folders, version control and editor leftovers stay out of the source package.
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/\\\\.git$" "/build[^/]*/" "/\\\\.cache/" "\\\\.user$" "~$")
include(CPack)
