# Release files through CPack. A Windows build packs the two programs with a
# README and an example Setting.ini into vorlane-<version>-win32.zip (or
# -win64.zip): `cmake --build --preset win32 --target package`. A Linux build
# packs the relay into a Debian package (VorlaneDebPackage.cmake).
set(CPACK_PACKAGE_NAME vorlane)
set(CPACK_PACKAGE_VENDOR "Vorlane")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "TCP relay with an optional keyless byte map")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})

if(NOT WIN32)
    include(${CMAKE_CURRENT_LIST_DIR}/VorlaneDebPackage.cmake)
    return()
endif()

# Windows users edit text files in Notepad: CR LF line ends.
set(release_text ${PROJECT_BINARY_DIR}/release)
configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/README.txt.in
    ${release_text}/README.txt @ONLY NEWLINE_STYLE CRLF)
configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/Setting.ini
    ${release_text}/Setting.ini @ONLY NEWLINE_STYLE CRLF)

# Only the "windows" component goes into the zip, so test programs and any
# later install rules stay out of it.
install(TARGETS Vorlane vorlane-relay RUNTIME DESTINATION . COMPONENT windows)
install(FILES ${release_text}/README.txt ${release_text}/Setting.ini
    DESTINATION . COMPONENT windows)

set(CPACK_GENERATOR ZIP)
set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};Vorlane;windows;/")
# Unpacks into a folder of the same name; VORLANE_WINE_ARCH is win32 or win64.
set(CPACK_PACKAGE_FILE_NAME vorlane-${PROJECT_VERSION}-${VORLANE_WINE_ARCH})
# The mingw strip of the toolchain (CMAKE_STRIP) takes the symbols out.
set(CPACK_STRIP_FILES ON)
include(CPack)
