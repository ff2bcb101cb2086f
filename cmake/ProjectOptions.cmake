# The undefined-behaviour build (preset windows-ubsan, build-ubsan/): every check GCC can make for
# undefined behaviour (overflow, shifts, bounds, null and misaligned pointers, bad enum and bool
# values) ends the program at the faulty instruction. Trapping needs no run-time library, which
# MinGW-w64 does not have, and a trap fails the test that ran into it.
option(DEVICESCAN_UBSAN "Trap on undefined behaviour in every target of the project" OFF)

# Compiler settings shared by every target of the project (third-party code keeps its own).
# Every include names its folder: "sdk/StringT.h", "devicescan/Platform.h" from src/ (the
# module's layers), "host/EventPrinter.h", "tests/unit/fakes/FakeHost.h" from the top.
# Warnings are errors under every compiler: GCC and Clang (both built and run here, under Wine)
# get -Wall -Wextra; Microsoft's compiler, which a Visual Studio configure of the same tree uses,
# gets its equivalent, /W4 (never built here).
function(devicescan_target_defaults target)
    if(MSVC)
        target_compile_options(${target} PRIVATE /W4 /WX /permissive- /utf-8)
    else()
        target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
    endif()
    target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR})
    target_compile_definitions(${target} PRIVATE
        UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
    if(DEVICESCAN_UBSAN)
        target_compile_options(${target} PRIVATE
            -fsanitize=undefined -fsanitize-undefined-trap-on-error)
    endif()
endfunction()

# A DLL named exactly as given (no "lib" prefix), built into bin/ unless told otherwise.
function(devicescan_dll_naming target)
    set_target_properties(${target} PROPERTIES PREFIX "" IMPORT_PREFIX "")
endfunction()

# A program whose entry point is wmain (its arguments arrive as wide strings). MinGW's linkers
# need to be told; Microsoft's finds wmain by itself.
function(devicescan_wide_main target)
    if(NOT MSVC)
        target_link_options(${target} PRIVATE -municode)
    endif()
endfunction()
