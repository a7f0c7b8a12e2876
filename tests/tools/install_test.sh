#!/usr/bin/env bash
# install_test.sh BUILD_DIR: `cmake --install` into a staging folder and the files as a user meets
# them (programs, man pages holding each --help, completion, unit), then cpack's .deb holds the same.
set -euo pipefail
build=$1 work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT
stage=$work/stage usr=$work/stage/usr
fail() { echo "FAIL: $*" >&2 && exit 1; }
words() { tr -s ' \n\t' ' ' <<<"$1"; }
DESTDIR=$stage cmake --install "$build" --prefix /usr --strip >/dev/null

for p in pelorn handheld; do
    [ "$($PELORN_EMULATOR "$usr/bin/$p" --version)" = "$p 1.0.0.5" ] || fail "$p --version"
    page=$usr/share/man/man1/$p.1.gz commands=""
    warnings=$(zcat "$page" | groff -man -Tutf8 -ww -z 2>&1) && [ -z "$warnings" ] || fail "$p.1: $warnings"
    file -b "$usr/bin/$p" | grep -q ", stripped" || fail "$p is installed with its symbols: $(file -b "$usr/bin/$p")"
    shown=$(words "$(MANWIDTH=100 LC_ALL=C man -l "$page" 2>&1)")
    [ $p = handheld ] && commands="play steps reg send set ports status profile firmware check receiver simulate"
    for command in "" $commands; do
        help=$($PELORN_EMULATOR "$usr/bin/$p" $command --help | tail -n +2)
        [[ $shown == *"$(words "$help")"* ]] || fail "$p.1 lacks the text of '$p $command --help'"
    done
done

complete() {  # WORD...: what completing the last word offers
    bash --norc --noprofile -c 'source "$1" && shift && COMP_WORDS=("$@") COMP_CWORD=$(($# - 1)) && _handheld &&
        echo "${COMPREPLY[*]}"' - "$usr/share/bash-completion/completions/handheld" handheld "$@"
}
for line in "sta|status" "--device /tmp se|send set" "send re|reset" "profile S|STD" "firmware --rea|--read"; do
    [ "$(complete ${line%|*})" = "${line#*|}" ] || fail "handheld ${line%|*} completes to '$(complete ${line%|*})'"
done

unit=$usr/lib/systemd/user/pelorn.service
grep -qx 'ExecStart=/usr/bin/pelorn --headless' "$unit" || fail "the unit does not run /usr/bin/pelorn --headless"
sed "s|^ExecStart=/usr/bin/|ExecStart=$usr/bin/|" "$unit" >"$work/pelorn.service"  # as systemd reads it, staged
if command -v systemd-analyze >/dev/null; then
    systemd-analyze verify --man=no "$work/pelorn.service" || fail "systemd-analyze finds fault with the unit"
    # Rated as a user's manager would rate it, without one running: it needs a runtime folder only.
    export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$work/run} && mkdir -p -m 0700 "$XDG_RUNTIME_DIR"
    rating=$(systemd-analyze security --user --offline=true --no-pager "$work/pelorn.service" 2>&1) ||
        fail "systemd-analyze security: $rating"
    exposure=$(sed -n 's/^→ Overall exposure level for pelorn.service: \([0-9.]*\) .*/\1/p' <<<"$rating")
    awk -v e="$exposure" 'BEGIN { exit !(e != "" && e <= 4.0) }' || fail "the unit's exposure is ${exposure:-unknown}: $rating"
    echo "systemd-analyze security rates the unit $exposure"
    grep -qx 'StateDirectory=pelorn' "$unit" || fail "the unit does not keep the device folder writable"
fi

(cd "$work" && cpack --config "$build/CPackConfig.cmake" -B "$work/deb" >"$work/cpack.log" 2>&1) || fail "$(cat "$work/cpack.log")"
listed=$(dpkg-deb -c "$work"/deb/pelorn_1.0.0.5_*.deb | awk '{print $6}' | grep -v '/$' | sort)
[ "$listed" = "$(cd "$stage" && find . -type f | sort)" ] || fail "the .deb holds other files: $listed"
# Debian's own check of a package: no errors (warnings and notes are printed, not failed on). A
# cross build's package is static on purpose and is not checked.
if command -v lintian >/dev/null && [ -z "${PELORN_EMULATOR:-}" ]; then
    lintian --tag-display-limit 0 "$work"/deb/pelorn_1.0.0.5_*.deb >"$work/lintian" 2>&1 || true
    cat "$work/lintian"
    ! grep -q '^E: ' "$work/lintian" || fail "lintian finds errors in the .deb"
fi
echo ok
