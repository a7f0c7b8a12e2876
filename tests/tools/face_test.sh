#!/usr/bin/env bash
# pelorn's face in a real terminal (tmux, on its own server): the icon drawn and flashing, the menu
# opened at the tap and "GPS On" chosen, a message box answered with OK, resizing, and the
# terminal given back on close, Ctrl-C and a crash.
#
# usage: face_test.sh PELORN HANDHELD [CAPTURE_FOLDER]
# Writes face-start.txt, face-menu.txt and face-box.txt (plain text) to CAPTURE_FOLDER.
set -euo pipefail

# PELORN_EMULATOR, when set, runs the cross-built programs (qemu-arm -cpu pxa250).
pelorn=$1
handheld=$2
emulator=${PELORN_EMULATOR:-}
captures=${3:-.}
mkdir -p "$captures"
command -v tmux >/dev/null || { echo "SKIP: tmux is not installed (scripts/deps.sh tmux)"; exit 77; }

work=$(mktemp -d)
socket="pelorn-face-$$"
tm() { tmux -L "$socket" -f /dev/null "$@"; }
trap 'tm kill-server 2>/dev/null || true; rm -rf "$work"' EXIT
# A session of its own keeps the server up: killing the last session would end it, and the next
# session could reach the server while it exits.
tm new-session -d -s keep "sleep 86400"

failures=0
fail() {
    echo "FAIL: $*"
    echo "--- screen:"
    tm capture-pane -p -t face 2>/dev/null || true
    failures=$((failures + 1))
}
screen() { tm capture-pane -p -t face; }
# Each wait looks every 0.1 s for up to 15 s: a loaded machine, or the handheld's processor under
# an emulator, may take seconds where an idle one takes a moment.
tries=150
colours() { tm capture-pane -e -p -t face; }
# Waits for the screen to show `text`.
wait_for() {
    for _ in $(seq $tries); do
        screen | grep -qF -- "$1" && return 0
        sleep 0.1
    done
    fail "never showed: $1"
    return 1
}
wait_match() {
    for _ in $(seq $tries); do
        screen | grep -qE -- "$1" && return 0
        sleep 0.1
    done
    fail "never matched: $1"
    return 1
}
wait_gone() {
    for _ in $(seq $tries); do
        screen | grep -qF -- "$1" || return 0
        sleep 0.1
    done
    fail "still shows: $1"
    return 1
}
# The terminal as the shell had it before pelorn: no alternate screen, no mouse, cursor shown.
restored() {
    local what=$1
    wait_for "exit " || return 0
    local flags
    flags=$(tm display -p -t face '#{alternate_on} #{mouse_any_flag} #{cursor_flag}')
    [ "$flags" = "0 0 1" ] || fail "$what: terminal flags (alternate, mouse, cursor) are $flags"
    cmp -s "$work/stty.before" "$work/stty.after" || fail "$what: terminal modes not restored"
}
# Runs pelorn on device `$1` in a fresh 100x40 session, with NO_COLOR=$2 when given. The modes
# are saved before "exit" is shown, so that whoever sees the line finds them written.
start() {
    tm kill-session -t face 2>/dev/null || true
    rm -f "$work/stty.after"
    tm new-session -d -s face -x 100 -y 40 -e "PELORN_DEVICE=$work/$1" -e COLORTERM=truecolor -e LANG=C.UTF-8 \
        -e "NO_COLOR=${2:-}" \
        "export TERM=tmux-256color; [ -n \"\$NO_COLOR\" ] || unset NO_COLOR; stty -g > '$work/stty.before';
         $emulator '$pelorn' --new; rc=\$?; stty -g > '$work/stty.after'; echo \"exit \$rc\"; sleep 600"
    wait_for "Pelorn on the virtual handheld"
    wait_for "tray icon           13"
}
on_device() { PELORN_DEVICE=$work/$1 $emulator "$handheld" "${@:2}"; }

# --- a new device: its receiver is off, so the first run's firmware read ends in a box, which
# `handheld status` tells of before the window is published ---
start one
wait_for "Wrong GPS firmware"
status=$(on_device one status)
grep -qE "^Pelorn +=.*starting \(pid [0-9]+\)" <<<"$status" || fail "status while the box is open: $status"
grep -qF 'Message box    = "Pelorn": Wrong GPS firmware' <<<"$status" || fail "status names no box: $status"
sent=$(on_device one send show 2>&1) && fail "a send to a window not yet published succeeded"
grep -qE "Pelorn \(pid [0-9]+\) is starting and has not published its window" <<<"$sent" || fail "send: $sent"
tm send-keys -t face Enter
wait_gone "Wrong GPS firmware"
wait_match 'firmware +" 00.00.00.00"' || true
wait_match "profile in force +STD" || true
wait_match "because +pin 38 low" || true
wait_match "from +STD_Slide, rcv off" || true
wait_match "tray icon +132 \(receiver off\)" || true
for _ in $(seq $tries); do
    status=$(on_device one status)
    grep -qE "^Pelorn +=.*running \(pid" <<<"$status" && break
    sleep 0.1
done
grep -qE "^Pelorn +=.*running \(pid" <<<"$status" || fail "status once started: $status"

# --- every key on the help line, all of them in full behind ? ---
screen | grep -qF "x q close" || fail "the help line lacks q"
tm send-keys -t face '?'
wait_for "x q      send close (WM_CLOSE)"
tm send-keys -t face a
wait_gone "x q      send close"
screen | grep -qE "AC line +battery" || fail "the key that closed the help did something"

# --- what other programs send, and their State_Chg ---
on_device one send hide >/dev/null
wait_match "sent: hide \(0x0402\) from pid [0-9]+" || true
tm send-keys -t face s
wait_for "tray icon           13"
on_device one reg add 'HKCU\Software\MicroSoft\Shell' /v State_Chg /t REG_DWORD /d 5 /f >/dev/null
wait_match "State_Chg +0, read 5 at [0-9.]+ s" || true
# A click of the left button at the cell (col, row), counted from 0, as xterm reports it.
click() {
    local x y
    x=$(printf "\\$(printf %03o $((33 + $1)))")
    y=$(printf "\\$(printf %03o $((33 + $2)))")
    tm send-keys -t face -l $'\e[M '"$x$y"
    tm send-keys -t face -l $'\e[M#'"$x$y"
}

# --- the icon, flashing while pin 38 is held high ---
screen > "$captures/face-start.txt"
tm send-keys -t face p
wait_for "holds it high"
# Two captures a tick apart: the icon's corner square in dark and in light green.
dark="38;2;0;110;0"
light="38;2;120;240;120"
seen_dark=0 seen_light=0
for _ in $(seq $tries); do
    c=$(colours)
    case $c in *"$dark"*) seen_dark=1 ;; esac
    case $c in *"$light"*) seen_light=1 ;; esac
    [ $seen_dark = 1 ] && [ $seen_light = 1 ] && break
    sleep 0.1
done
[ $seen_dark = 1 ] && [ $seen_light = 1 ] || fail "the icon does not flash (dark $seen_dark, light $seen_light)"

# --- off through the hardware, then "GPS On" from the menu ---
tm send-keys -t face p
wait_for "holds it low"
wait_for "tray icon           132"
colours | grep -qF "38;2;220;0;0" || fail "icon 132 is not drawn red"
tm send-keys -t face p
wait_for "leaves it alone"
wait_match "pin 21 +low" || true
tm send-keys -t face t
wait_for "✓ GPS OFF"
screen > "$captures/face-menu.txt"
# The menu's last line is the screen's last row, and it ends in the tap's column, left of the icon.
menu_row=$(grep -n "✓ GPS OFF" "$captures/face-menu.txt" | cut -d: -f1)
bezel_row=$(grep -n "╰" "$captures/face-menu.txt" | cut -d: -f1)
[ $((bezel_row - menu_row)) -le 2 ] || fail "the menu is not at the bottom of the screen (row $menu_row)"
# "GPS On" is clicked with the mouse.
on_line=$(grep -n "  GPS On" "$captures/face-menu.txt" | head -1)
on_row=$(($(echo "$on_line" | cut -d: -f1) - 1))
on_col=$(echo "$on_line" | cut -d: -f2- | sed 's/GPS On.*//' | wc -m)
click "$on_col" "$on_row"
wait_for "chose GPS On" || true
wait_gone "GPS OFF"
wait_match "pin 21 +high" || true
wait_match "pin 38 +high" || true
tm send-keys -t face t
wait_for "✓ GPS On"
tm send-keys -t face Escape
wait_gone "GPS OFF"

# --- a sender waiting for a box: it says so, status names the box, OK ends both ---
on_device one send show >"$work/send.out" 2>&1 &
sender=$!
wait_for "Shell_NotifyIcon Failure"
for _ in $(seq $tries); do grep -q "has not answered for 1 s" "$work/send.out" && break; sleep 0.1; done
grep -qF "a message box until its OK; handheld status shows which" "$work/send.out" || fail "send: $(cat "$work/send.out")"
on_device one status | grep -qF 'Message box    = "Pelorn": Shell_NotifyIcon Failure' || fail "status names no box"
tm send-keys -t face Enter
wait "$sender" || fail "send show failed: $(cat "$work/send.out")"
grep -qF "show: the tray icon is shown" "$work/send.out" || fail "send: $(cat "$work/send.out")"

# --- a message box, answered with OK ---
PELORN_DEVICE=$work/one $emulator "$handheld" reg add 'HKLM\Software\Handheld\Ports' /v COM1 /t REG_SZ \
    /d /nonexistent/pelorn-face /f >/dev/null
tm send-keys -t face r
wait_for "Fehler beim Öffnen des COM Ports"
wait_for "[ OK ]"
screen > "$captures/face-box.txt"
tm send-keys -t face Enter
wait_gone "Fehler beim Öffnen"

# --- resizing ---
tm resize-window -t face -x 60 -y 20
wait_for "too small"
tm resize-window -t face -x 100 -y 40
wait_for "Pelorn on the virtual handheld"

# --- every way out gives the terminal back ---
tm send-keys -t face x
restored "close"
screen | grep -qF "pelorn: closed" || fail "close did not shut down in order"

start one
tm send-keys -t face C-c
restored "Ctrl-C"
screen | grep -qF "exit 0" || fail "Ctrl-C did not close in order"

# NO_COLOR: not one colour, the icon's neither.
start one 1
tm send-keys -t face p
wait_for "holds it high"
# A tick has drawn the powered icon.
wait_match "tray icon +13[01]"
# Every parameter of every SGR sequence: none may set a colour (39 and 49 restore the default).
colours | grep -oE $'\e\\[[0-9;]*m' | tr -d $'\e[m' | tr ';' '\n' | grep -qxE '3[0-8]|4[0-8]|9[0-7]|10[0-7]' &&
    fail "NO_COLOR, yet colours are drawn"
tm send-keys -t face q
restored "q"

start one
process=pelorn
[ -z "$emulator" ] || process=$(basename "${emulator%% *}")
pid=$(pgrep -P "$(tm display -p -t face '#{pane_pid}')" -x "$process" || true)
[ -n "$pid" ] || fail "no pelorn process"
[ -n "$pid" ] && kill -SEGV "$pid"
restored "a crash"
screen | grep -qF "exit 139" || fail "the crash did not end pelorn with SIGSEGV"

[ $failures = 0 ] && echo "face: all good"
exit $((failures > 0))
