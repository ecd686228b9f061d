# libgcrypt for the sealed link, as target Vorlane::gcrypt. Natively the
# system's shared library (libgcrypt20-dev). For Windows the static archives
# from libgcrypt-mingw-w64-dev and libgpg-error-mingw-w64-dev, found under the
# toolchain's root, so the programs still need only the system's DLLs.
find_path(VORLANE_GCRYPT_INCLUDE_DIR gcrypt.h REQUIRED)
if(WIN32)
    find_library(VORLANE_GCRYPT_LIBRARY NAMES libgcrypt.a REQUIRED)
    find_library(VORLANE_GPG_ERROR_LIBRARY NAMES libgpg-error.a REQUIRED)
else()
    find_library(VORLANE_GCRYPT_LIBRARY NAMES gcrypt REQUIRED)
endif()

add_library(Vorlane::gcrypt INTERFACE IMPORTED)
target_include_directories(Vorlane::gcrypt INTERFACE ${VORLANE_GCRYPT_INCLUDE_DIR})
target_link_libraries(Vorlane::gcrypt INTERFACE ${VORLANE_GCRYPT_LIBRARY})
if(WIN32)
    # libgpg-error's own private needs (its .pc file says ws2_32).
    target_link_libraries(Vorlane::gcrypt INTERFACE ${VORLANE_GPG_ERROR_LIBRARY} ws2_32)
endif()
