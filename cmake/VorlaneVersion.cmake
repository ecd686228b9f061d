# The one version number, from project(), for the code and the resource scripts.
# Windows version resources hold exactly three parts here (major, minor, patch).
if(NOT PROJECT_VERSION MATCHES "^[0-9]+\\.[0-9]+\\.[0-9]+$")
    message(FATAL_ERROR "project() needs a version of three numbers, not '${PROJECT_VERSION}'")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/vorlane_version.h.in
    ${PROJECT_BINARY_DIR}/generated/vorlane_version.h @ONLY)

add_library(vorlane_version INTERFACE)
target_include_directories(vorlane_version INTERFACE ${PROJECT_BINARY_DIR}/generated)

# vorlane_add_resources(TARGET SCRIPT [FILES...]): a Windows resource script
# that includes res/version_info.rc2. windres reports no dependencies of its
# own, so every file the script reads is named here; FILES are its own ones.
function(vorlane_add_resources target script)
    target_sources(${target} PRIVATE ${script})
    target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/res)
    target_link_libraries(${target} PRIVATE vorlane_version)
    list(TRANSFORM ARGN PREPEND ${PROJECT_SOURCE_DIR}/res/)
    set_source_files_properties(${script} PROPERTIES OBJECT_DEPENDS
        "${PROJECT_SOURCE_DIR}/res/version_info.rc2;${PROJECT_BINARY_DIR}/generated/vorlane_version.h;${ARGN}")
endfunction()
