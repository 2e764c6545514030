# Sourced by the demo, test and benchmark commands: installs what is missing,
# finds out how this machine runs 32-bit x86 programs, builds the requested
# trees and prepares one Wine prefix per architecture. Safe to run again.
set -euo pipefail

# Every command takes --help (its own leading comment) and no other argument.
case "$#:${1:-}" in
    1:-h | 1:--help) sed -n '2,/^[^#]/{/^#/s/^# \{0,1\}//p}' "$0"; exit 0 ;;
    0:) ;;
    *) echo "$0: takes no arguments but --help, not '$*' (see $0 --help)" >&2; exit 2 ;;
esac

TW_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
TW_BUILD="${TW_BUILD:-$TW_ROOT/build}"
export WINEDEBUG="${WINEDEBUG:--all}"
# Each architecture has its own prefix and loader; no ambient prefix applies.
unset WINEPREFIX WINEARCH WINELOADER

tw_packages=(g++ cmake ninja-build pkg-config googletest nlohmann-json3-dev clang llvm lld cppcheck
             g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
             wine64 wine32:i386
             git python3 python3-pefile python3-pyelftools osslsigncode openssl tzdata)

tw_is_root() { [ "$(id -u)" -eq 0 ]; }

tw_as_root() {
    if tw_is_root; then
        "$@"
    elif command -v sudo >/dev/null; then
        sudo "$@"
    else
        tw_fail "'$1' needs root: run this as root, or install sudo"
    fi
}

# tw_root_write FILE TEXT: writes TEXT, exactly, to FILE as root.
tw_root_write() {
    tw_as_root sh -c 'printf "%s" "$1" > "$2"' sh "$2" "$1"
}

tw_fail() {
    echo "tarnwick: $*" >&2
    # A binfmt_misc mounted only to look is unmounted again, failure or not.
    if [ "${TW_FAILING:-0}" = 0 ]; then
        TW_FAILING=1
        tw_binfmt_leave 2>/dev/null || true
    fi
    exit 1
}

# ---- 32-bit x86 programs: natively, or through a binfmt_misc handler -------

# TW_BINFMT_DIR and TW_APT_DIR point the decisions below at a fake machine,
# for tests/scripts/setup_test.sh only.
tw_binfmt="${TW_BINFMT_DIR:-/proc/sys/fs/binfmt_misc}"
tw_apt_dir="${TW_APT_DIR:-/etc/apt}"
# The one handler this script registers, and the only one it ever changes:
# a handler of another name is the machine's own.
tw_own_handler=tarnwick-qemu-i386

# tw_try_exec FILE: runs it; the one place a probe is executed.
tw_try_exec() { "$1" 2>/dev/null; }

# A new folder where a program may be executed: the build folder may be on a
# noexec mount, where every probe fails whatever the kernel can run.
tw_exec_dir() {
    local dir try
    mkdir -p "$TW_BUILD" 2>/dev/null || true
    for dir in "$TW_BUILD" "${TMPDIR:-/tmp}" /tmp /dev/shm "${HOME:-}"; do
        [ -n "$dir" ] && [ -d "$dir" ] && [ -w "$dir" ] || continue
        try="$(mktemp -d "$dir/tarnwick-probe.XXXXXX" 2>/dev/null)" || continue
        printf '#!/bin/sh\nexit 0\n' >"$try/native"
        chmod +x "$try/native"
        if tw_try_exec "$try/native"; then
            echo "$try"
            return 0
        fi
        rm -rf "$try"
    done
    return 1
}

# The smallest i386 program: exits with status 0. Whether it runs tells
# whether this kernel (or a registered handler) runs 32-bit executables.
# Status 0: it runs; 1: it does not; 2: no folder lets anything run.
tw_i386_runs() {
    local dir status=0
    dir="$(tw_exec_dir)" || return 2
    printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x5b\x00\x00\x00\x5b\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\x31\xdb\x31\xc0\x40\xcd\x80' >"$dir/i386-probe"
    chmod +x "$dir/i386-probe"
    tw_try_exec "$dir/i386-probe" || status=1
    rm -rf "$dir"
    return $status
}

# The program that really runs an i386 executable, when it is not the
# executable itself: a handler this system cannot see (a chroot's or a
# container's binfmt_misc is its own, while the host's handlers still act).
# The probe waits in pause() so that its /proc entry can be read; it is
# killed once read. Prints nothing where the kernel runs it itself, or where
# it cannot be told within five seconds.
tw_i386_runner() {
    local dir pid exe="" shell i
    dir="$(tw_exec_dir)" || return 0
    # mov eax, 29 (pause); int 0x80; then exit(0) as the probe above.
    printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x62\x00\x00\x00\x62\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x1d\x00\x00\x00\xcd\x80\x31\xdb\x31\xc0\x40\xcd\x80' >"$dir/i386-wait"
    chmod +x "$dir/i386-wait"
    shell="$(readlink "/proc/$$/exe" 2>/dev/null)" || shell=""
    "$dir/i386-wait" 2>/dev/null &
    pid=$!
    # Until it has exec'd, the child is still this shell.
    for ((i = 0; i < 100; i++)); do
        exe="$(readlink "/proc/$pid/exe" 2>/dev/null)" || exe=""
        [ -n "$exe" ] && [ "$exe" != "$shell" ] && break
        exe=""
        sleep 0.05
    done
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    rm -rf "$dir"
    case "$exe" in "" | */i386-wait) ;; *) echo "$exe" ;; esac
}

# A handler acts whether or not binfmt_misc is mounted here, so where it is
# not, it is mounted to look (as root, or through sudo; that registers
# nothing), and unmounted again by tw_binfmt_leave unless a handler of ours
# needed it.
tw_binfmt_look() {
    [ -e "$tw_binfmt/status" ] && return 0
    tw_is_root || command -v sudo >/dev/null || return 1
    tw_as_root mount -t binfmt_misc binfmt_misc "$tw_binfmt" 2>/dev/null || return 1
    TW_BINFMT_MOUNTED=1
}

tw_binfmt_leave() {
    if [ "${TW_BINFMT_MOUNTED:-0}" = 1 ] && [ "${TW_I386_REGISTERED:-0}" = 0 ]; then
        tw_as_root umount "$tw_binfmt" 2>/dev/null || true
        TW_BINFMT_MOUNTED=0
    fi
}

# The enabled binfmt_misc entry that takes i386 executables, whatever its
# name, if any.
tw_i386_handler() {
    local entry
    tw_binfmt_look || return 1
    [ "$(cat "$tw_binfmt/status" 2>/dev/null)" = enabled ] || return 1
    for entry in "$tw_binfmt"/*; do
        [ -f "$entry" ] && [ "$(head -n1 "$entry" 2>/dev/null)" = enabled ] &&
            grep -q '^magic 7f454c4601010100000000000000000002000300$' "$entry" &&
            { echo "$entry"; return 0; }
    done
    return 1
}

# Decides, from what runs now and changing nothing, how 32-bit x86 programs
# will run:
#   TW_I386_MODE      native, or emulated (through a binfmt_misc handler)
#   TW_I386_HANDLER   the enabled handler that takes i386 programs, if any
#   TW_I386_REGISTER  1 when ours is to be registered, once qemu is installed
# A handler that runs them is used as it is, whoever registered it; ours is
# registered only where nothing runs them (or TARNWICK_I386=emulated asks for
# the emulated path and no handler is there to take it).
tw_i386_mode() {
    local runs=0
    case "${TARNWICK_I386:-auto}" in
        auto | emulated) ;;
        *) tw_fail "TARNWICK_I386 is '$TARNWICK_I386'; use auto or emulated" ;;
    esac
    tw_i386_runs || runs=$?
    [ "$runs" -ne 2 ] || tw_fail "no folder here lets a program run (the build folder, \$TMPDIR," \
        "/tmp, /dev/shm and \$HOME were tried; noexec mounts?), so whether 32-bit x86 programs" \
        "run cannot be told: nothing was installed or registered"
    # Mounted (if need be) here, not in the subshell below, to be left as found.
    tw_binfmt_look || true
    TW_I386_HANDLER="$(tw_i386_handler)" || TW_I386_HANDLER=""
    TW_I386_REGISTER=0
    if [ -n "$TW_I386_HANDLER" ]; then
        TW_I386_MODE=emulated
        if [ "$runs" -ne 0 ]; then
            [ "${TW_I386_HANDLER##*/}" = "$tw_own_handler" ] ||
                tw_fail "32-bit x86 programs do not run through the binfmt_misc handler" \
                    "$TW_I386_HANDLER; it is not this script's, so it is left as it is (fix or" \
                    "remove it and run again)"
            TW_I386_REGISTER=1
        fi
    elif [ "$runs" -eq 0 ] && [ -n "$(tw_i386_runner)" ]; then
        # Taken by a handler this system cannot see: used as it is.
        TW_I386_MODE=emulated
    elif [ "$runs" -eq 0 ] && [ "${TARNWICK_I386:-auto}" = auto ]; then
        TW_I386_MODE=native
    else
        TW_I386_MODE=emulated
        TW_I386_REGISTER=1
    fi
    # Whether ours can be registered is known now: say so before anything is
    # installed for it.
    if [ "$TW_I386_REGISTER" = 1 ]; then
        [ "$(cat "$tw_binfmt/status" 2>/dev/null)" != disabled ] ||
            tw_fail "32-bit x86 programs do not run here, and binfmt_misc is disabled" \
                "($tw_binfmt/status), so no handler would act; enabling it is the machine's" \
                "own choice: nothing was installed or registered"
        [ -e "$tw_binfmt/register" ] ||
            tw_fail "32-bit x86 programs do not run here, and binfmt_misc is not mounted at" \
                "$tw_binfmt and could not be mounted (root or sudo is needed; a container may" \
                "not allow it): nothing was installed or registered"
    fi
}

# The magic and mask Debian's qemu-user-binfmt registers for i386 ELF files,
# under our own name.
tw_i386_register() {
    local rule=":$tw_own_handler:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386:F"
    tw_binfmt_look || return 1
    # Flag F holds the qemu it was registered with: ours is registered again
    # to take a newly installed one.
    if [ -e "$tw_binfmt/$tw_own_handler" ]; then
        tw_root_write "$tw_binfmt/$tw_own_handler" -1 || return 1
    fi
    echo "registering $tw_own_handler for 32-bit x86 programs (binfmt_misc; remove with" \
        "'echo -1 > $tw_binfmt/$tw_own_handler')"
    tw_root_write "$tw_binfmt/register" "$rule" || return 1
    TW_I386_REGISTERED=1
}

# After the packages are in: registers ours where the decision needs it, and
# makes sure 32-bit programs run. A machine that cannot run them fails here,
# so that no run passes with the 32-bit DLL untested.
tw_i386_ready() {
    if [ "$TW_I386_REGISTER" = 1 ] ||
        { [ "${TW_QEMU_NEW:-0}" = 1 ] && [ "${TW_I386_HANDLER##*/}" = "$tw_own_handler" ]; }; then
        tw_i386_register 2>/dev/null || tw_fail "this machine cannot run 32-bit x86 programs, and" \
            "$tw_own_handler could not be registered through binfmt_misc (needs root): the" \
            "32-bit DLL would go untested"
        TW_I386_HANDLER="$tw_binfmt/$tw_own_handler"
    fi
    TW_I386_INTERPRETER=""
    if [ -n "$TW_I386_HANDLER" ]; then
        TW_I386_INTERPRETER="$(awk '/^interpreter / {print $2}' "$TW_I386_HANDLER")"
    elif [ "$TW_I386_MODE" = emulated ]; then
        TW_I386_INTERPRETER="$(tw_i386_runner)"
    fi
    tw_binfmt_leave
    tw_i386_runs || tw_fail "32-bit x86 programs do not run here ($TW_I386_MODE), so the 32-bit" \
        "DLL cannot be tested"
}

# How each architecture's programs run, for the figures.
tw_run_figures() {
    echo "  x86_64 programs: native, through $(tw_loader x86_64) in a 64-bit prefix"
    if [ "$TW_I386_MODE" = emulated ]; then
        local version
        version="$("$TW_I386_INTERPRETER" --version 2>/dev/null | head -n1)" || true
        if [ -n "$TW_I386_HANDLER" ]; then
            echo "  i686 programs: emulated, ${version:-$TW_I386_INTERPRETER} through the binfmt_misc" \
                "handler ${TW_I386_HANDLER##*/}, running $(tw_loader i686) in a 32-bit prefix"
        else
            echo "  i686 programs: emulated, ${version:-$TW_I386_INTERPRETER} through a binfmt_misc" \
                "handler this system cannot see (the host's, from a chroot or container)," \
                "running $(tw_loader i686) in a 32-bit prefix"
        fi
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

tw_apt_policy() { apt-cache policy 2>/dev/null || true; }

# tw_apt_uri ORIGIN SUITE: the URI of the first source apt knows for SUITE
# of that origin ("Debian", "Debian Backports"), as its release file says.
tw_apt_uri() {
    tw_apt_policy | awk -v origin="o=$1" -v suite="n=$2" '
        $1 ~ /^-?[0-9]+$/ && NF >= 3 { uri = $2 }
        $1 == "release" {
            sub(/^[ \t]*release /, "")
            n = split($0, kv, ",")
            o = s = 0
            for (i = 1; i <= n; i++) { o = o || kv[i] == origin; s = s || kv[i] == suite }
            if (o && s && uri != "") { print uri; exit }
        }'
}

# tw_apt_install [apt-get install args...]: as root. A mirror caught
# mid-sync serves index files that disagree with their release file; apt
# then drops that index, and where it is a foreign architecture's security
# index, i386 packages no longer match their amd64 halves. The release's own
# suite has both at one version, so that is tried next; then all again after
# a pause. sudo resets the environment: DEBIAN_FRONTEND goes on its command line.
tw_apt_install() {
    local attempt codename
    local apt=(env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends)
    codename="$(tw_debian_codename)"
    for attempt in 1 2 3; do
        tw_as_root apt-get update -q || echo "apt-get update reported errors; going on"
        tw_as_root "${apt[@]}" "$@" && return 0
        if [ -n "$codename" ] && [[ " $* " != *" -t "* ]]; then
            echo "apt-get failed; trying the packages of $codename itself"
            tw_as_root "${apt[@]}" -t "$codename" "$@" && return 0
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

tw_qemu_candidate() { apt-cache policy qemu-user 2>/dev/null | awk '/Candidate:/ {print $2}'; }

# For the handler of our own only: a recent qemu-user, from the release's
# backports where the release's own is older. Backports come from the mirror
# this machine's own Debian source uses, added once as our own list file.
tw_install_qemu() {
    tw_qemu_recent && return 0
    local codename mirror suite="" list="$tw_apt_dir/sources.list.d/tarnwick-backports.list"
    codename="$(tw_debian_codename)"
    if [ -n "$codename" ]; then
        tw_as_root apt-get update -q >/dev/null 2>&1 || true
        if ! dpkg --compare-versions "$(tw_qemu_candidate)" ge 1:8.1; then
            suite="$codename-backports"
            mirror="$(tw_apt_uri Debian "$codename")"
            if [ -f "$list" ] || [ -n "$(tw_apt_uri "Debian Backports" "$suite")" ]; then
                : # already a source of this machine's (or ours from an earlier run)
            elif [ -n "$mirror" ]; then
                echo "adding Debian's $suite from $mirror, the mirror of this machine's" \
                    "$codename (for qemu-user only), in $list"
                tw_root_write "$list" "deb $mirror $suite main"$'\n'
            else
                echo "note: no source of Debian's $codename here to take $suite from"
                suite=""
            fi
        fi
    fi
    echo "installing: qemu-user${suite:+ from $suite}"
    tw_apt_install ${suite:+-t "$suite"} qemu-user
    tw_qemu_recent || echo "note: qemu-user older than 8.1: 32-bit Wine runs take minutes each"
    TW_QEMU_NEW=1
}

tw_install_packages() {
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
            echo "adding the i386 architecture to dpkg (for wine32:i386)"
            tw_as_root dpkg --add-architecture i386
        fi
        tw_apt_install "${missing[@]}"
    fi
}

# Decides before anything is installed, so that a machine where nothing can
# be told gets nothing.
tw_install() {
    tw_i386_mode
    tw_install_packages
    # Only for a handler of ours: another one is used with the qemu it has.
    if [ "$TW_I386_REGISTER" = 1 ] || [ "${TW_I386_HANDLER##*/}" = "$tw_own_handler" ]; then
        tw_install_qemu
    fi
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
# Making a prefix would also add Wine's menu entries and file associations
# to the user's desktop folders ($HOME/.local/share, $HOME/.config/menus):
# nothing of the prefix belongs there.
tw_prefix_overrides="$tw_no_audio_drivers;winemenubuilder.exe=d"

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
            WINEDLLOVERRIDES="$tw_prefix_overrides" WINEPREFIX="$prefix" WINEARCH="$winearch" \
                "$(tw_loader "$arch")" wineboot -i </dev/null >/dev/null 2>&1 || true
            # The registry is on disk once the server has ended.
            WINEPREFIX="$prefix" "$tw_wineserver" -w
            [ -f "$prefix/system.reg" ] || tw_fail "could not make the $arch Wine prefix in $prefix"
            echo "  made in $((SECONDS - started)) s"
        fi
        # Fails harmlessly when a server for this prefix is already up.
        WINEPREFIX="$prefix" "$tw_wineserver" -p </dev/null >/dev/null 2>&1 || true
        # Starting the system processes and naming the audio driver: one process.
        WINEDLLOVERRIDES="$tw_prefix_overrides" WINEPREFIX="$prefix" "$(tw_loader "$arch")" \
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

