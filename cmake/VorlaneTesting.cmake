# GoogleTest: Debian's package natively, its sources for the cross build.
if(NOT VORLANE_TESTS)
    return()
endif()

if(CMAKE_CROSSCOMPILING)
    set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    if(NOT TARGET GTest::gtest_main)
        add_library(GTest::gtest ALIAS gtest)
        add_library(GTest::gtest_main ALIAS gtest_main)
        add_library(GTest::gmock ALIAS gmock)
    endif()
else()
    find_package(GTest REQUIRED)
    include(GoogleTest)
endif()

# vorlane_add_test(NAME name SOURCES ... LIBS ... [WINE_DISPLAY] [LABELS ...])
# Natively each test case becomes its own ctest entry; under Wine a whole
# binary is one entry, since every Wine start costs about a second.
function(vorlane_add_test)
    cmake_parse_arguments(T "WINE_DISPLAY" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    add_executable(${T_NAME} ${T_SOURCES})
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest_main)
    if(CMAKE_CROSSCOMPILING)
        add_test(NAME ${T_NAME} COMMAND ${T_NAME})
        set_tests_properties(${T_NAME} PROPERTIES
            FIXTURES_REQUIRED wine
            RESOURCE_LOCK wine
            TIMEOUT ${T_TIMEOUT}
            LABELS "wine;${T_LABELS}")
    else()
        gtest_discover_tests(${T_NAME}
            PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${T_LABELS}"
            DISCOVERY_TIMEOUT 60)
    endif()
endfunction()
