# libgcrypt for the sealed link, as target Vorlane::gcrypt. Natively the
# system's shared library (libgcrypt20-dev). For Windows the DLLs of
# libgcrypt-mingw-w64-dev and libgpg-error-mingw-w64-dev, found under the
# toolchain's root: both are LGPL, and shipping them as DLLs beside the
# programs lets a user swap in a library of their own.
find_path(VORLANE_GCRYPT_INCLUDE_DIR gcrypt.h REQUIRED)
if(NOT WIN32)
    find_library(VORLANE_GCRYPT_LIBRARY NAMES gcrypt REQUIRED)
    add_library(Vorlane::gcrypt INTERFACE IMPORTED)
    target_include_directories(Vorlane::gcrypt INTERFACE ${VORLANE_GCRYPT_INCLUDE_DIR})
    target_link_libraries(Vorlane::gcrypt INTERFACE ${VORLANE_GCRYPT_LIBRARY})
    return()
endif()

find_library(VORLANE_GCRYPT_IMPLIB NAMES libgcrypt.dll.a REQUIRED)
find_library(VORLANE_GPG_ERROR_IMPLIB NAMES libgpg-error.dll.a REQUIRED)
find_file(VORLANE_GCRYPT_DLL NAMES libgcrypt-20.dll PATH_SUFFIXES bin REQUIRED)
find_file(VORLANE_GPG_ERROR_DLL NAMES libgpg-error-0.dll PATH_SUFFIXES bin REQUIRED)

add_library(Vorlane::gpg_error SHARED IMPORTED)
set_target_properties(Vorlane::gpg_error PROPERTIES
    IMPORTED_IMPLIB ${VORLANE_GPG_ERROR_IMPLIB}
    IMPORTED_LOCATION ${VORLANE_GPG_ERROR_DLL})
add_library(Vorlane::gcrypt SHARED IMPORTED)
set_target_properties(Vorlane::gcrypt PROPERTIES
    IMPORTED_IMPLIB ${VORLANE_GCRYPT_IMPLIB}
    IMPORTED_LOCATION ${VORLANE_GCRYPT_DLL}
    INTERFACE_INCLUDE_DIRECTORIES ${VORLANE_GCRYPT_INCLUDE_DIR}
    INTERFACE_LINK_LIBRARIES Vorlane::gpg_error)

# Wine, like Windows, looks for a program's DLLs beside it: every folder of
# the build tree that holds an executable gets a copy of the two DLLs, so that
# the tests run the programs as the zip ships them. Deferred to the end of the
# top folder, when every target exists.
function(vorlane_executables_in folder out)
    get_property(targets DIRECTORY ${folder} PROPERTY BUILDSYSTEM_TARGETS)
    get_property(subfolders DIRECTORY ${folder} PROPERTY SUBDIRECTORIES)
    set(found)
    foreach(target IN LISTS targets)
        get_target_property(type ${target} TYPE)
        if(type STREQUAL "EXECUTABLE")
            list(APPEND found ${target})
        endif()
    endforeach()
    foreach(subfolder IN LISTS subfolders)
        vorlane_executables_in(${subfolder} more)
        list(APPEND found ${more})
    endforeach()
    set(${out} ${found} PARENT_SCOPE)
endfunction()

function(vorlane_copy_runtime_dlls)
    vorlane_executables_in(${PROJECT_SOURCE_DIR} executables)
    set(folders)
    foreach(target IN LISTS executables)
        get_target_property(folder ${target} RUNTIME_OUTPUT_DIRECTORY)
        if(NOT folder)
            get_target_property(folder ${target} BINARY_DIR)
        endif()
        list(APPEND folders ${folder})
    endforeach()
    list(REMOVE_DUPLICATES folders)
    set(copies)
    foreach(folder IN LISTS folders)
        foreach(dll IN ITEMS ${VORLANE_GCRYPT_DLL} ${VORLANE_GPG_ERROR_DLL})
            get_filename_component(name ${dll} NAME)
            add_custom_command(OUTPUT ${folder}/${name}
                COMMAND ${CMAKE_COMMAND} -E copy_if_different ${dll} ${folder}/${name}
                DEPENDS ${dll} VERBATIM)
            list(APPEND copies ${folder}/${name})
        endforeach()
    endforeach()
    add_custom_target(vorlane_runtime_dlls ALL DEPENDS ${copies})
    # Also when only one program is built.
    foreach(target IN LISTS executables)
        add_dependencies(${target} vorlane_runtime_dlls)
    endforeach()
endfunction()
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL vorlane_copy_runtime_dlls)
