# Debian's hardening flags for every native target of a release build, as
# `DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags` gives them on
# amd64: stack protector, _FORTIFY_SOURCE, format-string errors, PIE, and a
# read-only global offset table bound at start (RELRO, BIND_NOW).
# Not for the sanitizer and fuzzer builds, whose runtimes replace the
# checked functions, nor for Windows.
if(CMAKE_CROSSCOMPILING OR WIN32 OR NOT CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang"
        OR CMAKE_CXX_FLAGS MATCHES "-fsanitize" OR VORLANE_FUZZ)
    return()
endif()

add_compile_options(-fstack-protector-strong -Wformat -Werror=format-security)
# The checks need the optimiser: a Debug build would only warn.
add_compile_definitions($<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
include(CheckPIESupported)
check_pie_supported()
add_link_options(LINKER:-z,relro LINKER:-z,now)
