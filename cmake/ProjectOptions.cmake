# The undefined-behaviour build (preset windows-ubsan, build-ubsan/): every check GCC can make for
# undefined behaviour (overflow, shifts, bounds, null and misaligned pointers, bad enum and bool
# values) ends the program at the faulty instruction. Trapping needs no run-time library, which
# MinGW-w64 does not have, and a trap fails the test that ran into it.
option(DEVICESCAN_UBSAN "Trap on undefined behaviour in every target of the project" OFF)

# The tests need GoogleTest (an installed package or its sources); a build of the shipped
# binaries and the benchmark alone needs nothing but the compiler.
option(DEVICESCAN_BUILD_TESTS "Build the tests (needs GoogleTest)" ON)

# Copy each library's headers into its include root instead of linking its folder there (see
# devicescan_headers); chosen by itself where links cannot be made.
option(DEVICESCAN_COPY_HEADERS "Copy headers into the include roots instead of linking" OFF)

# Run-time checks of the thread rules that class comments state (qv::ThreadChecker): always in
# Debug, and by default in every build that has the tests, so that the tests run with them.
option(DEVICESCAN_THREAD_CHECKS "Check which thread calls what, in every configuration"
       ${DEVICESCAN_BUILD_TESTS})

# Compiler settings shared by every target of the project (third-party code keeps its own).
# They give no include directory: a target sees its own headers and those of the libraries it
# links, through devicescan_headers below. Warnings are errors under every compiler: GCC and Clang (both built and run here, under Wine)
# get -Wall -Wextra; Microsoft's compiler, which a Visual Studio configure of the same tree uses,
# gets its equivalent, /W4 (never built here).
function(devicescan_target_defaults target)
    if(MSVC)
        target_compile_options(${target} PRIVATE /W4 /WX /permissive- /utf-8)
    else()
        target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
    endif()
    target_compile_definitions(${target} PRIVATE
        UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
    if(DEVICESCAN_THREAD_CHECKS)
        target_compile_definitions(${target} PRIVATE DEVICESCAN_THREAD_CHECKS)
    else()
        target_compile_definitions(${target} PRIVATE $<$<CONFIG:Debug>:DEVICESCAN_THREAD_CHECKS>)
    endif()
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

# devicescan_headers(target spelling [folder]): the headers of folder (a path from the top of the
# repository, spelling itself unless given) become visible to target, and to whatever links it,
# as "spelling/Name.h". Every include names its folder that way ("sdk/StringT.h",
# "host/scan/Digest.h"), yet no target gets the repository or src/ as a whole: each library has
# an include root of its own in the build tree (include/<target>/) holding only a link named
# spelling to its folder. A header of a library that a target does not link is then not found,
# and a wrong include across layers fails to compile. Where links cannot be made (Windows without
# the right to make them) or DEVICESCAN_COPY_HEADERS asks for it, the folder's headers are copied
# instead, at configure time; a change to any of them configures again, which copies afresh.
# Libraries export their root (PUBLIC, INTERFACE for header-only ones); programs keep it PRIVATE.
function(devicescan_headers target spelling)
    set(folder ${spelling})
    if(ARGC GREATER 2)
        set(folder ${ARGV2})
    endif()
    set(root ${CMAKE_BINARY_DIR}/include/${target})
    get_filename_component(parent ${root}/${spelling} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    set(source ${PROJECT_SOURCE_DIR}/${folder})
    set(link ${root}/${spelling})
    if(IS_SYMLINK ${link})
        file(REMOVE ${link})  # it may name a folder that has moved
    endif()
    if(NOT EXISTS ${link} AND NOT DEVICESCAN_COPY_HEADERS)
        file(CREATE_LINK ${source} ${link} RESULT linked SYMBOLIC)
    endif()
    if(NOT IS_SYMLINK ${link})
        if(IS_DIRECTORY ${source})
            file(GLOB_RECURSE headers CONFIGURE_DEPENDS ${source}/*.h)  # a new header
            set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${headers})  # an edit
            file(COPY ${source}/ DESTINATION ${link} FILES_MATCHING PATTERN "*.h")
        else()
            configure_file(${source} ${link} COPYONLY)
        endif()
    endif()
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "INTERFACE_LIBRARY")
        set(scope INTERFACE)
    elseif(type STREQUAL "EXECUTABLE")
        set(scope PRIVATE)
    else()
        set(scope PUBLIC)
    endif()
    target_include_directories(${target} ${scope} ${root})
endfunction()
