# Sourced by the demo, test and benchmark commands: installs what is missing,
# finds out how this machine runs 32-bit x86 programs, builds the requested
# trees and prepares one Wine prefix per architecture. Safe to run again.
set -euo pipefail

TW_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
TW_BUILD="${TW_BUILD:-$TW_ROOT/build}"
export WINEDEBUG="${WINEDEBUG:--all}"
# Each architecture has its own prefix and loader; no ambient prefix applies.
unset WINEPREFIX WINEARCH WINELOADER

tw_packages=(g++ cmake ninja-build pkg-config googletest nlohmann-json3-dev clang llvm lld cppcheck
             g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
             wine64 wine32:i386
             git python3 python3-pefile osslsigncode openssl tzdata)

tw_as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

tw_fail() {
    echo "tarnwick: $*" >&2
    exit 1
}

# ---- 32-bit x86 programs: natively, or through qemu-i386 -------------------

tw_binfmt=/proc/sys/fs/binfmt_misc

# The smallest i386 program: exits with status 0. Whether it runs tells
# whether this kernel (or a registered handler) runs 32-bit executables.
tw_i386_runs() {
    local probe="$TW_BUILD/i386-probe"
    mkdir -p "$TW_BUILD"
    printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x5b\x00\x00\x00\x5b\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\x31\xdb\x31\xc0\x40\xcd\x80' >"$probe"
    chmod +x "$probe"
    "$probe" 2>/dev/null
}

# The enabled binfmt_misc entry that takes i386 executables, if any. A
# handler acts whether or not binfmt_misc is mounted here, so it is mounted
# to look (root only; that registers nothing).
tw_i386_handler() {
    local entry
    if [ ! -e "$tw_binfmt/status" ] && [ "$(id -u)" -eq 0 ]; then
        mount -t binfmt_misc binfmt_misc "$tw_binfmt" 2>/dev/null || true
    fi
    for entry in "$tw_binfmt"/*; do
        [ -f "$entry" ] && [ "$(head -n1 "$entry" 2>/dev/null)" = enabled ] &&
            grep -q '^magic 7f454c4601010100000000000000000002000300$' "$entry" &&
            { echo "$entry"; return 0; }
    done
    return 1
}

# Sets TW_I386_MODE: native, or emulated (through qemu-i386). A registered
# handler takes precedence over the kernel's own loader, so it decides.
# TARNWICK_I386=emulated asks for the emulated path on a machine that would
# run 32-bit code natively (to try that path; it registers the handler).
tw_i386_mode() {
    case "${TARNWICK_I386:-auto}" in
        auto | emulated) ;;
        *) tw_fail "TARNWICK_I386 is '$TARNWICK_I386'; use auto or emulated" ;;
    esac
    if [ "${TARNWICK_I386:-auto}" = emulated ] || tw_i386_handler >/dev/null || ! tw_i386_runs; then
        TW_I386_MODE=emulated
    else
        TW_I386_MODE=native
    fi
}

# The magic and mask Debian's qemu-user-binfmt registers for i386 ELF files.
tw_i386_register() {
    local rule=':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386:F'
    [ -e "$tw_binfmt/register" ] ||
        tw_as_root mount -t binfmt_misc binfmt_misc "$tw_binfmt" 2>/dev/null || return 1
    [ -e "$tw_binfmt/qemu-i386" ] && { tw_as_root sh -c "echo -1 > $tw_binfmt/qemu-i386" || return 1; }
    echo "registering qemu-i386 for 32-bit x86 programs (binfmt_misc; remove with" \
        "'echo -1 > $tw_binfmt/qemu-i386')"
    tw_as_root sh -c "printf '%s' '$rule' > $tw_binfmt/register"
}

# After the packages are in: make sure 32-bit programs run, registering the
# handler where the mode needs it. A machine that cannot run them fails here,
# so that no run passes with the 32-bit DLL untested.
tw_i386_ready() {
    # A handler registered with flag F holds the qemu it was registered with:
    # a newly installed one takes its place.
    if [ "${TW_QEMU_NEW:-0}" = 1 ] && [ "$(tw_i386_handler)" = "$tw_binfmt/qemu-i386" ]; then
        tw_i386_register
    fi
    if [ "$TW_I386_MODE" = emulated ] && ! tw_i386_handler >/dev/null; then
        tw_i386_register 2>/dev/null || true
        tw_i386_handler >/dev/null ||
            tw_fail "this machine cannot run 32-bit x86 programs, and qemu-i386 could not be" \
                "registered through binfmt_misc (needs root): the 32-bit DLL would go untested"
    fi
    tw_i386_runs || tw_fail "32-bit x86 programs do not run here ($TW_I386_MODE), so the 32-bit" \
        "DLL cannot be tested"
}

# How each architecture's programs run, for the figures.
tw_run_figures() {
    echo "  x86_64 programs: native, through $(tw_loader x86_64) in a 64-bit prefix"
    if [ "$TW_I386_MODE" = emulated ]; then
        local interpreter
        interpreter="$(awk '/^interpreter / {print $2}' "$(tw_i386_handler)")"
        echo "  i686 programs: emulated, $("$interpreter" --version | head -n1) through" \
            "binfmt_misc, running $(tw_loader i686) in a 32-bit prefix"
    else
        echo "  i686 programs: native, through $(tw_loader i686) in a 32-bit prefix"
    fi
}

# ---- packages --------------------------------------------------------------

# The release's codename on Debian (bookworm), else nothing.
tw_debian_codename() {
    # shellcheck disable=SC1091
    (. /etc/os-release && [ "${ID:-}" = debian ] && echo "${VERSION_CODENAME:-}") || true
}

# tw_apt_install [apt-get install args...]: as root. A mirror caught
# mid-sync serves index files that disagree with their release file; apt
# then drops that index, and where it is a foreign architecture's security
# index, i386 packages no longer match their amd64 halves. The release's own
# suite has both at one version, so that is tried next; then all again after
# a pause.
tw_apt_install() {
    local attempt codename
    codename="$(tw_debian_codename)"
    for attempt in 1 2 3; do
        tw_as_root apt-get update -q || echo "apt-get update reported errors; going on"
        DEBIAN_FRONTEND=noninteractive tw_as_root apt-get install -y -q \
            --no-install-recommends "$@" && return 0
        if [ -n "$codename" ] && [[ " $* " != *" -t "* ]]; then
            echo "apt-get failed; trying the packages of $codename itself"
            DEBIAN_FRONTEND=noninteractive tw_as_root apt-get install -y -q \
                --no-install-recommends -t "$codename" "$@" && return 0
        fi
        [ "$attempt" -eq 3 ] && tw_fail "could not install: $*"
        echo "apt-get failed; trying again in 60 s"
        sleep 60
    done
}

# qemu before 8.1 tracks a guest's pages one at a time, and Wine reserves
# most of the 32-bit address space: every 32-bit Wine process then spends
# about 90 s of CPU starting up (a prefix took 20 min), against about a
# second with 8.1 or later. Debian 12 ships 7.2, and a recent one in its
# backports.
tw_qemu_recent() {
    local v
    v="$(dpkg-query -W -f='${Version}' qemu-user 2>/dev/null)" &&
        dpkg --compare-versions "$v" ge 1:8.1
}

tw_install_qemu() {
    tw_qemu_recent && return 0
    local codename suite="" list=/etc/apt/sources.list.d/tarnwick-backports.list
    codename="$(tw_debian_codename)"
    if [ -n "$codename" ]; then
        tw_as_root apt-get update -q >/dev/null 2>&1 || true
        local candidate
        candidate="$(apt-cache policy qemu-user | awk '/Candidate:/ {print $2}')"
        if ! dpkg --compare-versions "${candidate:-0}" ge 1:8.1; then
            suite="$codename-backports"
            if [ ! -f "$list" ]; then
                echo "adding Debian's $suite (for qemu-user only) in $list"
                echo "deb http://deb.debian.org/debian $suite main" |
                    tw_as_root tee "$list" >/dev/null
            fi
        fi
    fi
    echo "installing: qemu-user${suite:+ from $suite}"
    tw_apt_install ${suite:+-t "$suite"} qemu-user
    tw_qemu_recent || echo "note: qemu-user older than 8.1: 32-bit Wine runs take minutes each"
    TW_QEMU_NEW=1
}

tw_install() {
    tw_i386_mode
    local missing=()
    for p in "${tw_packages[@]}"; do
        dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
    done
    # libFuzzer and the sanitizers come in a package named after clang's version.
    if ! command -v clang >/dev/null ||
        [ ! -f "$(clang -print-file-name=libclang_rt.fuzzer-x86_64.a)" ]; then
        missing+=(libclang-rt-dev)
    fi
    if [ ${#missing[@]} -gt 0 ]; then
        echo "installing: ${missing[*]}"
        if ! dpkg --print-foreign-architectures | grep -qx i386; then
            tw_as_root dpkg --add-architecture i386
        fi
        tw_apt_install "${missing[@]}"
    fi
    [ "$TW_I386_MODE" = emulated ] && tw_install_qemu
    tw_i386_ready
}

# ---- builds ----------------------------------------------------------------

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
    local mode=native
    [ "$arch" = i686 ] && mode="$TW_I386_MODE"
    tw_build "$arch" -DCMAKE_TOOLCHAIN_FILE="$TW_ROOT/cmake/toolchain-$arch-w64-mingw32.cmake" \
        -DTARNWICK_RUN_MODE="$mode" "$@"
}

# ---- Wine ------------------------------------------------------------------

# Programs of each architecture run through their own loader, never through
# the /usr/bin/wine wrapper, which always starts the 32-bit loader first.
tw_loader() {
    case "$1" in
        x86_64) echo /usr/lib/wine/wine64 ;;
        i686) echo /usr/lib/wine/wine ;;
    esac
}

tw_prefix() { echo "$TW_BUILD/$1/wine-prefix"; }

# A native program whatever the prefix's architecture.
tw_wineserver=/usr/lib/wine/wineserver

# tw_wine ARCH PROGRAM [ARGS...]: runs a Windows program of ARCH in its prefix.
tw_wine() {
    local arch="$1"
    shift
    WINEPREFIX="$(tw_prefix "$arch")" "$(tw_loader "$arch")" "$@"
}

# Wine's audio drivers, which a prefix must never load here: they probe ALSA
# and PulseAudio, and a test process was once killed right after they failed.
tw_no_audio_drivers="winepulse.drv,winealsa.drv,wineoss.drv,winecoreaudio.drv=d"

# tw_wine_up ARCH...: makes each prefix once, and starts its server and
# Wine's own system processes for the runs that follow, with no terminal or
# pipe of ours: a process started later would hand them the test runner's
# pipes, which then never close. The prefix is made, and the system processes
# started, without the stand-in overrides: Wine's own services need its real
# setupapi. Every prefix names its audio driver: "vp", the virtual
# peripheral's winevp.drv, which only a program with that file in its folder
# finds (the test programs in bin/); every other program then has no audio
# driver at all, and none probes ALSA or PulseAudio.
tw_wine_up() {
    local arch prefix started winearch
    trap tw_wine_down EXIT
    trap 'exit 130' INT TERM
    for arch in "$@"; do
        prefix="$(tw_prefix "$arch")"
        if [ ! -f "$prefix/system.reg" ]; then
            started=$SECONDS
            if [ "$arch" = i686 ] && [ "$TW_I386_MODE" = emulated ]; then
                echo "making the i686 Wine prefix under qemu-i386 (once, about a minute)"
            else
                echo "making the $arch Wine prefix (once, about 20 s)"
            fi
            # The loader, not a server started beforehand, decides the prefix's
            # kind: a 32-bit one for the 32-bit loader, which then never
            # starts a 64-bit program.
            winearch=win64
            [ "$arch" = i686 ] && winearch=win32
            rm -rf "$prefix"
            WINEDLLOVERRIDES="$tw_no_audio_drivers" WINEPREFIX="$prefix" WINEARCH="$winearch" \
                "$(tw_loader "$arch")" wineboot -i </dev/null >/dev/null 2>&1 || true
            # The registry is on disk once the server has ended.
            WINEPREFIX="$prefix" "$tw_wineserver" -w
            [ -f "$prefix/system.reg" ] || tw_fail "could not make the $arch Wine prefix in $prefix"
            echo "  made in $((SECONDS - started)) s"
        fi
        # Fails harmlessly when a server for this prefix is already up.
        WINEPREFIX="$prefix" "$tw_wineserver" -p </dev/null >/dev/null 2>&1 || true
        # Starting the system processes and naming the audio driver: one process.
        WINEDLLOVERRIDES="$tw_no_audio_drivers" WINEPREFIX="$prefix" "$(tw_loader "$arch")" \
            reg add 'HKCU\Software\Wine\Drivers' /v Audio /t REG_SZ /d vp /f \
            </dev/null >/dev/null 2>&1 || tw_fail "Wine does not start in $prefix"
    done
}

tw_wine_down() {
    local arch
    for arch in x86_64 i686; do
        if [ -d "$(tw_prefix "$arch")" ]; then
            WINEPREFIX="$(tw_prefix "$arch")" "$tw_wineserver" -k >/dev/null 2>&1 || true
            WINEPREFIX="$(tw_prefix "$arch")" "$tw_wineserver" -w >/dev/null 2>&1 || true
        fi
    done
}

# tw_registry_clean ARCH...: after the runs, no key the virtual peripheral
# registered for Wine's own setupapi may be left in a prefix. The server
# writes the registry out as it ends.
tw_registry_clean() {
    local arch left=()
    tw_wine_down
    for arch in "$@"; do
        grep -q TarnwickVirtualPeripheral "$(tw_prefix "$arch")/system.reg" 2>/dev/null &&
            left+=("$arch")
    done
    if [ ${#left[@]} -gt 0 ]; then
        echo "tarnwick: USB entries registered by the runs are left in the ${left[*]} prefix" >&2
        return 1
    fi
    echo "  registry: no USB entry registered by the runs is left (prefixes: $*)"
    tw_audio_check "$@"
}

# tw_audio_check ARCH...: every prefix still names the virtual peripheral's
# driver, and no driver selection of vperiph-registry is left undone.
tw_audio_check() {
    local arch user bad=()
    for arch in "$@"; do
        user="$(tw_prefix "$arch")/user.reg"
        if ! awk '/^\[/ {in_drivers = ($0 ~ /^\[Software\\\\Wine\\\\Drivers\]/)}
                  in_drivers && $0 == "\"Audio\"=\"vp\"" {found = 1} END {exit !found}' "$user" ||
            grep -q '^\[Software\\\\Tarnwick' "$user"; then
            bad+=("$arch")
        fi
    done
    if [ ${#bad[@]} -gt 0 ]; then
        echo "tarnwick: the ${bad[*]} prefix no longer names the audio driver vp alone" >&2
        return 1
    fi
    echo "  audio driver: every prefix names only the virtual peripheral's (prefixes: $*)"
}

