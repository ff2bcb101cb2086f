# Installs what the build needs on a Debian machine, once; sourced by the project's scripts.
# Nothing is installed when everything is already there.
ensure_build_tools() {
    local missing=()
    command -v cmake >/dev/null || missing+=(cmake)
    command -v x86_64-w64-mingw32-g++-posix >/dev/null || missing+=(mingw-w64 g++-mingw-w64-x86-64-posix)
    command -v clang >/dev/null || missing+=(clang)
    command -v ld.lld >/dev/null || missing+=(lld)
    command -v wine >/dev/null || missing+=(wine64 wine)
    command -v clang-format >/dev/null || missing+=(clang-format)
    [ -f /usr/src/googletest/CMakeLists.txt ] || missing+=(googletest)
    command -v flock >/dev/null || missing+=(util-linux)
    # zlib for the target, linked statically into the host (archives are inflated with it).
    [ -f /usr/x86_64-w64-mingw32/lib/libz.a ] || missing+=(libz-mingw-w64-dev)
    # The benchmark's peer logger (header-only, built into the benchmark program alone).
    [ -f /usr/include/spdlog/spdlog.h ] || missing+=(libspdlog-dev)
    [ -f /usr/include/fmt/format.h ] || missing+=(libfmt-dev)
    [ ${#missing[@]} -eq 0 ] && return 0
    install_packages "${missing[@]}"
}

# install_packages PACKAGE...: installs Debian packages without their recommendations.
install_packages() {
    echo "installing: $*"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "$@" >/dev/null
}

# Installs what only the tests and benchmarks need: clamscan, the reference scanner that the
# host's scans are compared with (it runs natively, with only the databases it is given), and
# Python, which generates and compares their trees.
ensure_test_tools() {
    local missing=()
    command -v clamscan >/dev/null || missing+=(clamav)
    command -v python3 >/dev/null || missing+=(python3)
    [ ${#missing[@]} -eq 0 ] || install_packages "${missing[@]}"
}

# Configures (once) and builds everything into build/.
build_all() {
    [ -f build/CMakeCache.txt ] || cmake --preset windows >/dev/null
    cmake --build build -j"$(nproc)"
}

# Configures (once) and builds everything with the second compiler, Clang and lld, into build-clang/.
build_clang() {
    [ -f build-clang/CMakeCache.txt ] || cmake --preset windows-clang >/dev/null
    cmake --build build-clang -j"$(nproc)"
}
