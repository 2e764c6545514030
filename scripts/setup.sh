# Sourced by the demo and test commands: installs what is missing, builds the
# requested trees and prepares a Wine prefix. Safe to run again.
set -euo pipefail

TW_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
TW_BUILD="${TW_BUILD:-$TW_ROOT/build}"
export WINEPREFIX="${WINEPREFIX:-$TW_BUILD/wine-prefix}"
export WINEDEBUG="${WINEDEBUG:--all}"

tw_packages=(g++ cmake ninja-build googletest clang llvm lld cppcheck
             g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
             wine wine32:i386 wine64)

tw_as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

tw_install() {
    local missing=()
    for p in "${tw_packages[@]}"; do
        dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
    done
    # libFuzzer and the sanitizers come in a package named after clang's version.
    if ! command -v clang >/dev/null ||
        [ ! -f "$(clang -print-file-name=libclang_rt.fuzzer-x86_64.a)" ]; then
        missing+=(libclang-rt-dev)
    fi
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "installing: ${missing[*]}"
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        tw_as_root dpkg --add-architecture i386
    fi
    tw_as_root apt-get update -q
    DEBIAN_FRONTEND=noninteractive tw_as_root apt-get install -y -q --no-install-recommends \
        "${missing[@]}"
}

# tw_build NAME [cmake args...]: configures and builds $TW_BUILD/NAME (only
# the targets in TW_TARGETS when it is set).
tw_build() {
    local name="$1"
    shift
    cmake -S "$TW_ROOT" -B "$TW_BUILD/$name" -G Ninja "$@" >/dev/null
    # shellcheck disable=SC2086
    cmake --build "$TW_BUILD/$name" ${TW_TARGETS:+--target $TW_TARGETS}
}

# tw_build_windows ARCH [cmake args...]
tw_build_windows() {
    local arch="$1"
    shift
    tw_build "$arch" -DCMAKE_TOOLCHAIN_FILE="$TW_ROOT/cmake/toolchain-$arch-w64-mingw32.cmake" "$@"
}

# The prefix is made without the stand-in overrides: Wine's own services need
# its real setupapi. The server then stays up for the runs that follow.
tw_wine_up() {
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "making the Wine prefix (once, about 20 s)"
    fi
    mkdir -p "$WINEPREFIX"
    # Fails harmlessly when a server for this prefix is already up.
    env -u WINEDLLOVERRIDES wineserver -p 30 >/dev/null 2>&1 || true
    env -u WINEDLLOVERRIDES wineboot -u >/dev/null 2>&1 || true
    trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
}
