# Sourced by the bench scripts that watch one running pelorn ($pelorn): checks that it is there,
# makes $folder (a temporary folder for its device), and on exit stops $pid, when set, with
# $stop_signal (TERM unless set), and removes the folder.
[ -x "$pelorn" ] || { echo "$(basename "$0"): no pelorn at $pelorn (build the pelorn target)" >&2; exit 2; }
folder=$(mktemp -d)
pid=
cleanup() {
    [ -n "$pid" ] && kill -"${stop_signal:-TERM}" "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true
    rm -rf "$folder"
}
trap cleanup EXIT INT TERM
