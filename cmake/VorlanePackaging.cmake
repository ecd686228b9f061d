# Release files through CPack. A Windows build packs the two programs and the
# libgcrypt DLLs with a README, an example Setting.ini and the libraries'
# licences into vorlane-<version>-win32.zip (or
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

# The libgcrypt and libgpg-error DLLs go beside the programs, with the LGPL,
# Debian's copyright files of the two (libgcrypt's carries notices that every
# binary copy must pass on) and a notice naming each library, its version and
# its source, all as the Debian packages that the build takes them from say.
function(vorlane_debian_package_facts package prefix)
    set(fields "\${Package}\t\${Version}\t\${source:Package}\t\${source:Version}")
    execute_process(COMMAND dpkg-query -W "-f=${fields}\t\${source:Upstream-Version}" ${package}
        OUTPUT_VARIABLE facts RESULT_VARIABLE failed ERROR_QUIET)
    if(failed)
        message(FATAL_ERROR "${package} is not installed: run scripts/bootstrap.sh")
    endif()
    string(REPLACE "\t" ";" facts "${facts}")
    list(GET facts 1 debian_version)
    list(GET facts 2 source)
    list(GET facts 3 source_version)
    list(GET facts 4 upstream_version)
    set(${prefix}_DEBIAN_VERSION ${debian_version} PARENT_SCOPE)
    set(${prefix}_SOURCE ${source} PARENT_SCOPE)
    set(${prefix}_SOURCE_VERSION ${source_version} PARENT_SCOPE)
    set(${prefix}_UPSTREAM_VERSION ${upstream_version} PARENT_SCOPE)
endfunction()
vorlane_debian_package_facts(libgcrypt-mingw-w64-dev VORLANE_GCRYPT)
vorlane_debian_package_facts(libgpg-error-mingw-w64-dev VORLANE_GPG_ERROR)
configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/NOTICE.txt.in
    ${release_text}/NOTICE.txt @ONLY NEWLINE_STYLE CRLF)

# Copied as they are but for CR LF line ends (configure_file would also
# replace anything that looks like @NAME@ in them).
function(vorlane_crlf_copy source destination)
    file(READ ${source} text)
    string(REPLACE "\n" "\r\n" text "${text}")
    file(WRITE ${destination} "${text}")
endfunction()
vorlane_crlf_copy(/usr/share/common-licenses/LGPL-2.1 ${release_text}/licences/LGPL-2.1.txt)
vorlane_crlf_copy(/usr/share/doc/libgcrypt-mingw-w64-dev/copyright
    ${release_text}/licences/libgcrypt.txt)
vorlane_crlf_copy(/usr/share/doc/libgpg-error-mingw-w64-dev/copyright
    ${release_text}/licences/libgpg-error.txt)

# Only the "windows" component goes into the zip, so test programs and any
# later install rules stay out of it.
install(TARGETS Vorlane vorlane-relay RUNTIME DESTINATION . COMPONENT windows)
install(IMPORTED_RUNTIME_ARTIFACTS Vorlane::gcrypt Vorlane::gpg_error
    RUNTIME DESTINATION . COMPONENT windows)
install(FILES ${release_text}/README.txt ${release_text}/Setting.ini ${release_text}/NOTICE.txt
    DESTINATION . COMPONENT windows)
install(DIRECTORY ${release_text}/licences DESTINATION . COMPONENT windows)

set(CPACK_GENERATOR ZIP)
set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};Vorlane;windows;/")
# Unpacks into a folder of the same name; VORLANE_WINE_ARCH is win32 or win64.
set(CPACK_PACKAGE_FILE_NAME vorlane-${PROJECT_VERSION}-${VORLANE_WINE_ARCH})
# The mingw strip of the toolchain (CMAKE_STRIP) takes the symbols out.
set(CPACK_STRIP_FILES ON)
include(CPack)
