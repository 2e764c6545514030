#!/usr/bin/env bash
# scripts/setup.sh's decisions about 32-bit programs, on a fake machine: a
# binfmt_misc folder of files (a handler that takes i386 programs registers as
# a file, -1 removes it), a probe that runs or not as each case says, apt's
# view of its sources, and every command as root recorded, never run. This
# machine's binfmt_misc, apt and dpkg are only read, never changed.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
magic=7f454c4601010100000000000000000002000300

# An entry as the kernel shows it: NAME STATE INTERPRETER.
entry() { printf '%s\ninterpreter %s\nflags: F\noffset 0\nmagic %s\n' "$2" "$3" "$magic" >"$bin/$1"; }

# One case in a fresh fake machine. kernel: i386 when it runs i386 programs
# itself, hidden:PATH when a handler it cannot see runs them through PATH; noexec: the folders no program runs in; works: interpreters that
# run. Prints the decision, then what was done as root.
decide() {
    local kernel="$1" noexec="$2" works="$3"
    (
        export TW_BINFMT_DIR="$bin" TW_APT_DIR="${bin%/*}/apt" TW_BUILD="$work/build"
        export TMPDIR="$work/tmp" HOME="$work/home"
        set --
        # shellcheck source=../../scripts/setup.sh
        source "$root/scripts/setup.sh"
        tw_is_root() { true; }
        # Mounting makes binfmt_misc's own files appear, as the kernel does.
        tw_as_root() {
            echo "root: $*"
            [ "$1" != mount ] || { echo enabled >"$bin/status" && : >"$bin/register"; }
        }
        tw_root_write() {
            echo "write $2 > ${1#"$work"/}"
            case "$1:$2" in
                */register:*) entry "$(cut -d: -f2 <<<"$2")" enabled "$(cut -d: -f7 <<<"$2")" ;;
                "$bin"/*:-1) rm "$1" ;;
                *) mkdir -p "${1%/*}" && printf '%s' "$2" >"$1" ;;
            esac
        }
        tw_try_exec() {
            [[ " $noexec " != *" ${1%/*/*} "* ]] || return 1
            [[ "$1" == */i386-probe ]] || return 0
            # A handler takes precedence over the kernel's own loader; one
            # acts only where binfmt_misc is mounted (looking mounts nothing).
            local handler
            [ -e "$bin/status" ] && handler="$(tw_i386_handler)" || { [ "$kernel" != none ]; return; }
            [[ " $works " == *" $(awk '/^interpreter/ {print $2}' "$handler") "* ]]
        }
        # hidden:PATH, a handler of the host that this system cannot see.
        tw_i386_runner() { [[ "$kernel" != hidden:* ]] || echo "${kernel#hidden:}"; }
        tw_install_packages() { :; }
        tw_qemu_recent() { false; }
        tw_qemu_candidate() { echo 1:7.2+dfsg-7; }
        tw_debian_codename() { echo bookworm; }
        tw_apt_policy() { cat "$work/policy"; }
        (tw_install && echo "mode $TW_I386_MODE ${TW_I386_HANDLER##*/}" && tw_run_figures) || echo "failed"
    ) 2>&1
}

mirror=http://mirror.example.org/debian
printf ' 500 %s bookworm/main amd64 Packages\n     release v=12.9,o=Debian,a=oldstable,n=bookworm,l=Debian,c=main\n' \
    "$mirror" >"$work/policy"
failures=0
# name | kernel | entries before (name:state:interpreter) | noexec | interpreters that work |
# TARNWICK_I386 | what must be said or done | what must not
while IFS='|' read -r name kernel entries noexec works force must never; do
    bin="$work/$name/binfmt"
    mkdir -p "$bin" "$work/tmp" "$work/home"
    # status:absent is binfmt_misc not mounted; status:disabled, switched off.
    case " $entries " in
        *" status:absent "*) ;;
        *" status:disabled "*) echo disabled >"$bin/status" && : >"$bin/register" ;;
        *) echo enabled >"$bin/status" && : >"$bin/register" ;;
    esac
    entries="$(tr ' ' '\n' <<<"$entries" | grep -v '^status:' | tr '\n' ' ' || true)"
    for e in $entries; do entry "${e%%:*}" "$(cut -d: -f2 <<<"$e")" "${e##*:}"; done
    machine="$(for e in $entries; do [ "${e%%:*}" = tarnwick-qemu-i386 ] || cat "$bin/${e%%:*}"; done)"
    noexec="${noexec//\$work/$work}"
    out="$(TARNWICK_I386="$force" decide "$kernel" "$noexec" "$works")"
    # Whatever happened, the machine's own handlers are as they were.
    after="$(for e in $entries; do [ "${e%%:*}" = tarnwick-qemu-i386 ] || cat "$bin/${e%%:*}"; done)"
    [ "$machine" = "$after" ] || { echo "$name: a handler of the machine's changed"; failures=$((failures + 1)); }
    IFS=';' read -ra musts <<<"$must"
    IFS=';' read -ra nevers <<<"$never"
    for m in "${musts[@]}"; do
        [[ "$out" == *"$m"* ]] || { echo "$name: expected '$m' in:"; echo "$out"; failures=$((failures + 1)); }
    done
    for n in "${nevers[@]}"; do
        [[ "$out" != *"$n"* ]] || { echo "$name: '$n' must not happen:"; echo "$out"; failures=$((failures + 1)); }
    done
done <<EOF
native|i386|||||mode native |qemu-user;write;mount
machine's handler|none|qemu-i386:enabled:/usr/bin/qemu-i386-static||/usr/bin/qemu-i386-static||mode emulated qemu-i386|qemu-user;write
any name, asked for emulation|i386|box:enabled:/opt/box||/opt/box|emulated|mode emulated box|qemu-user;write
machine's handler broken|none|qemu-i386:enabled:/usr/bin/qemu-i386||||not this script's, so it is left as it is;failed|qemu-user;write
machine's handler disabled|none|qemu-i386:disabled:/usr/bin/qemu-i386||/usr/bin/qemu-i386||write deb $mirror bookworm-backports main;apt-get install -y -q --no-install-recommends -t bookworm-backports qemu-user;write :tarnwick-qemu-i386:M::;mode emulated tarnwick-qemu-i386|write -1;failed
ours, stale|none|tarnwick-qemu-i386:enabled:/gone||/usr/bin/qemu-i386||write -1 > ours, stale/binfmt/tarnwick-qemu-i386;write :tarnwick-qemu-i386:;mode emulated tarnwick-qemu-i386|failed
noexec build folder|i386||\$work/build|||mode native |qemu-user;write;failed
nothing can run|i386||\$work/build \$work/tmp /tmp /dev/shm \$work/home|||no folder here lets a program run;failed|root:;write
asked for emulation|i386|||/usr/bin/qemu-i386|emulated|env DEBIAN_FRONTEND=noninteractive apt-get install;write :tarnwick-qemu-i386:;mode emulated tarnwick-qemu-i386|failed
not mounted, native|i386|status:absent||||root: mount -t binfmt_misc;root: umount;mode native |qemu-user;write
not mounted, registered|none|status:absent||/usr/bin/qemu-i386||root: mount -t binfmt_misc;write :tarnwick-qemu-i386:;mode emulated tarnwick-qemu-i386|root: umount;failed
not mounted, then a failure|none|status:absent qemu-i386:enabled:/usr/bin/qemu-i386||||not this script's;root: umount;failed|qemu-user;write
host's handler, unseen|hidden:/host/qemu-i386|status:absent||||mode emulated ;i686 programs: emulated, /host/qemu-i386 through a binfmt_misc handler this system cannot see|qemu-user;write
switched off|none|status:disabled||/usr/bin/qemu-i386||binfmt_misc is disabled;failed|qemu-user;write
EOF
[ "$failures" -eq 0 ] || exit 1
echo "figure: setup.sh decisions: 14 fake machines; no handler of the machine's removed or replaced," \
    "nothing installed where nothing can run or nothing could be registered, nothing registered" \
    "where 32-bit programs run, binfmt_misc mounted only to look unmounted again"
