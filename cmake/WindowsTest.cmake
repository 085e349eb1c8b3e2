# SPDX-License-Identifier: MIT
# tavro_add_windows_test(TARGET [ARGS arg...] [TIMEOUT seconds] [ENVIRONMENT VAR=value...])
#
# Registers a Windows test program as one CTest test. CTest runs it through
# CMAKE_CROSSCOMPILING_EMULATOR (scripts/wine-exec, from the toolchain file), so under Wine in
# the sandbox of scripts/wine-run. One test per program rather than one per test case: every
# Wine start costs time, and gtest_discover_tests would run Wine at build time. The program's
# own output names the failing cases.
#
# Wine hands the Linux environment to Windows programs, so ENVIRONMENT reaches the test (for
# instance the folder of pseudo-terminal links a serial port test maps its COM ports to).
function(tavro_add_windows_test target)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "TIMEOUT" "ARGS;ENVIRONMENT")
    if(arg_UNPARSED_ARGUMENTS)
        message(FATAL_ERROR "tavro_add_windows_test(${target}): unknown arguments ${arg_UNPARSED_ARGUMENTS}")
    endif()
    if(NOT arg_TIMEOUT)
        set(arg_TIMEOUT 300)
    endif()
    add_test(NAME ${target} COMMAND ${target} ${arg_ARGS})
    # GoogleTest's colours would reach CTest's log as escape codes.
    set_tests_properties(${target} PROPERTIES TIMEOUT ${arg_TIMEOUT} LABELS windows
                                              ENVIRONMENT "GTEST_COLOR=no;${arg_ENVIRONMENT}")
endfunction()
