# SPDX-License-Identifier: MIT
# GoogleTest built with this build's compiler from Debian's sources (package googletest), for
# targets that have no GoogleTest of their own, such as the Windows cross build. Gives the same
# GTest::gtest and GTest::gtest_main targets as find_package(GTest). Google Mock is not built:
# no test uses it yet.
set(TAVRO_GTEST_SOURCE_DIR /usr/src/googletest/googletest
    CACHE PATH "GoogleTest's sources (googletest/ of Debian's googletest package)")
if(NOT EXISTS ${TAVRO_GTEST_SOURCE_DIR}/src/gtest-all.cc)
    message(FATAL_ERROR "No GoogleTest sources in ${TAVRO_GTEST_SOURCE_DIR}: install Debian's googletest "
                        "(scripts/setup --windows) or set TAVRO_GTEST_SOURCE_DIR")
endif()

find_package(Threads REQUIRED)
add_library(tavro_gtest STATIC ${TAVRO_GTEST_SOURCE_DIR}/src/gtest-all.cc)
target_include_directories(tavro_gtest SYSTEM PUBLIC ${TAVRO_GTEST_SOURCE_DIR}/include)
target_include_directories(tavro_gtest PRIVATE ${TAVRO_GTEST_SOURCE_DIR})
target_link_libraries(tavro_gtest PUBLIC Threads::Threads)
target_compile_features(tavro_gtest PUBLIC cxx_std_20)

add_library(tavro_gtest_main STATIC ${TAVRO_GTEST_SOURCE_DIR}/src/gtest_main.cc)
target_link_libraries(tavro_gtest_main PUBLIC tavro_gtest)

add_library(GTest::gtest ALIAS tavro_gtest)
add_library(GTest::gtest_main ALIAS tavro_gtest_main)
