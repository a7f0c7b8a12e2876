#!/usr/bin/env bash
# Runs the Windows build (Pelorn.exe and pelorn_ctl.exe in BUILD) under Wine, with COM1 on a
# pseudo-terminal fed by tests/win32/linux/pty_feeder.py, on one Xvfb display of the handheld's
# 240x320 screen, filled by a Wine virtual desktop of that size (the tray needs one). Everything is
# checked from outside the program: Wine's registry, the bytes on the serial line, the tray, the
# message boxes another program can see, and the screen, clicked with xdotool and photographed
# into BUILD/screenshots.
#
#   tests/win32/wine_tests.sh BUILD
#
# Ends with "N passed, M failed"; exits nonzero when anything failed. PELORN_WINE and
# PELORN_WINESERVER name the Wine to use (default: 64-bit); WINEARCH=win32 makes a 32-bit prefix.
set -uo pipefail

build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
work=$build/wine-run
shots=$build/screenshots
rm -rf "$work" "$shots"
mkdir -p "$work/port" "$shots"

WINE=${PELORN_WINE:-$(command -v wine64 || echo /usr/lib/wine/wine64)}
WINESERVER=${PELORN_WINESERVER:-$(command -v wineserver || echo /usr/lib/wine/wineserver64)}
export WINESERVER
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=;mshtml="
export LC_ALL=C.UTF-8 PELORN_MODEM_LOG=$work/modem.log
log=$work/wine.log

passed=0
failed=0
pids=()

cleanup() {
    "$WINESERVER" -k 2>/dev/null
    touch "$work/port/stop"
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
}
trap cleanup EXIT

check() {  # NAME EXPECTED ACTUAL
    if [ "$2" == "$3" ]; then
        passed=$((passed + 1))
        echo "ok - $1"
    else
        failed=$((failed + 1))
        echo "FAIL - $1: expected '$2', got '$3'"
    fi
}

wine() { "$WINE" "$@" 2>>"$log" | tr -d '\r'; }
ctl() { wine "$build/pelorn_ctl.exe" "$@"; }
field() { sed -n "s/^$1=//p" <<<"$2" | head -n1; }  # NAME OUTPUT
query() { wine reg query "$1"; }                     # KEY: all its values
value() { sed -n "s/^    $1    REG_[A-Z_]*    //p" <<<"$2"; }  # NAME QUERY-OUTPUT, data as shown

# Polls KEY until NAME reads WANTED (at most 15 s); prints what it read last.
await_value() {
    local out v
    for _ in $(seq 30); do
        out=$(wine reg query "$1" /v "$2" 2>/dev/null)
        v=$(value "$2" "$out")
        [ "$v" == "$3" ] && break
        sleep 0.5
    done
    echo "$v"
}

start_pelorn() {
    LD_PRELOAD=$build/modem_lines.so "$WINE" "$build/Pelorn.exe" >>"$log" 2>&1 &
    pelorn=$!
}

# Points COM1 at PATH; Wine takes the mapping only when its server starts.
map_com1() {
    wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /d "$1" /f >/dev/null
    "$WINESERVER" -k
    "$WINESERVER" -w
    "$WINESERVER" -p
    wine reg query 'HKLM\Software\Wine\Ports' >/dev/null  # brings the services up, which make the link
    check "COM1 maps to $1" "$1" "$(readlink "$WINEPREFIX/dosdevices/com1")"
}

# --- the machine: display, the receiver's end of COM1, a prefix set up as a device has it ------

Xvfb -displayfd 3 -screen 0 240x320x24 -nolisten tcp 3>"$work/display" 2>>"$log" &
pids+=($!)
python3 "$here/linux/pty_feeder.py" "$work/port" &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && [ -s "$work/port/pty" ] && break; sleep 0.1; done
export DISPLAY=:$(cat "$work/display")
pty=$(cat "$work/port/pty")

wine wineboot -i >/dev/null
"$WINESERVER" -p

# A Wine that cannot run a program of this width ends it at once, silently, with status 0.
pe_bits() {  # FILE: 32 or 64, from the machine field of its PE header
    local pe
    pe=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
    case $(od -An -tx2 -j$((pe + 4)) -N2 "$1" | tr -d ' ') in
        014c) echo 32 ;;
        8664) echo 64 ;;
        *) echo unknown ;;
    esac
}
bits=$(pe_bits "$build/Pelorn.exe")
check "Wine runs a $bits-bit program of the build" "bits=$bits" "$(ctl bits)"
if [ "$failed" -ne 0 ]; then
    echo "$passed passed, $failed failed"
    exit 1
fi
cat >"$work/device.reg" <<'EOF'
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software\Wine\Explorer]
"Desktop"="Default"

[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]
"Default"="240x320"

[HKEY_LOCAL_MACHINE\Software\Handheld\Power]
"ACLine"=dword:00000000
EOF
wine reg import "$(wine winepath -w "$work/device.reg")" >/dev/null
# A plain profile lacks the keys every handheld has; the package's system_keys.reg provides them.
system_keys=('HKCU\Software\MicroSoft\Shell' 'HKCU\ControlPanel\Backlight'
             'HKLM\System\CurrentControlSet\Control\Power\Timeouts')
present() {
    local n=0
    for key in "${system_keys[@]}"; do wine reg query "$key" >/dev/null 2>&1 && n=$((n + 1)); done
    echo "$n"
}
before=$(present)
wine reg import "$(wine winepath -w "$build/system_keys.reg")" >/dev/null
check "system_keys.reg adds the three system keys a plain profile lacks" "0 3" "$before $(present)"
map_com1 "$pty"

# --- first start: provisioning, the firmware version from COM1, GPSHDL ------------------------

echo "PSRFTXT,Version: 03.01.00.12-HH01" >"$work/port/feed"
start_pelorn
out=$(ctl wait-window)
check "first start publishes a live window in GPSHDL" 1 "$(field window "$out")"
rm -f "$work/port/feed"

app=$(query 'HKLM\SOFTWARE\Apps\Tavro SW')
check "AppReg" 0x1 "$(value AppReg "$app")"
check "EnableIcon" 0x1 "$(value EnableIcon "$app")"
check "EnableBySW" 0x1 "$(value EnableBySW "$app")"
check "UserHotkey" 0x0 "$(value UserHotkey "$app")"
check "DisableApp" 0x0 "$(value DisableApp "$app")"
check "FW is the version the receiver sent" " 03.01.00.12" "$(value FW "$app")"

profile=$(query 'HKCU\Software\MicroSoft\Shell')
expected="GPS_PwrTimeOut=0xb4 GPS_BlTimeOut=0x1e GPS_Slide=0xa GPS_Backlight=0x0 GPS_Power=0x0"
expected+=" STD_PwrTimeOut=0xb4 STD_BlTimeOut=0x1e STD_Slide=0x5 STD_Backlight=0x1 STD_Power=0x1 Temp_ACTimeOut=0x3c"
actual=""
for name in GPS_PwrTimeOut GPS_BlTimeOut GPS_Slide GPS_Backlight GPS_Power STD_PwrTimeOut STD_BlTimeOut STD_Slide \
    STD_Backlight STD_Power Temp_ACTimeOut; do
    actual+="${actual:+ }$name=$(value "$name" "$profile")"
done
check "the eleven profile defaults" "$expected" "$actual"

hal=$(query 'HKCU\Software\Handheld\Hal')
check "start-up issues the HAL I/O control once, input 1" "0x1013ea0 0x1 0x1" \
    "$(value IoControlCode "$hal") $(value Input "$hal") $(value Calls "$hal")"
check "DTR and RTS are left low after the version query" "set" "$(tail -n1 "$work/modem.log" 2>/dev/null)"
check "start-up shows no message box" 0 "$(field boxes "$(ctl boxes)")"

# --- the tray icon and the two control messages -----------------------------------------------

check "the tray holds the icon" 1 "$(field icon "$(ctl tray)")"
check "0x0402 answers 1" 1 "$(field result "$(ctl send 0x0402)")"
check "after 0x0402 the tray has no icon" 0 "$(field icon "$(ctl tray)")"
check "0x0401 answers 1" 1 "$(field result "$(ctl send 0x0401)")"
check "after 0x0401 the tray holds the icon again" 1 "$(field icon "$(ctl tray)")"
check "shown and activated by another program, the window hides itself again" 0 \
    "$(field visible "$(ctl show-window)")"

# --- the monitor: time-outs, brightness, and the receiver's power pin -------------------------

check "a tick applies the standard backlight time-out" 0x1e \
    "$(await_value 'HKCU\ControlPanel\Backlight' BatteryTimeout 0x1e)"
check "and the standard suspend time-out" 0xb4 \
    "$(value BattSuspendTimeout "$(query 'HKLM\System\CurrentControlSet\Control\Power\Timeouts')")"
check "on battery with the receiver off, BKL1: gets STD_Slide" 0x5 \
    "$(value Level "$(query 'HKCU\Software\Handheld\Backlight')")"

# Another program edits the GPS profile (no State_Chg), then the receiver's hardware raises pin 38.
wine reg add 'HKCU\Software\MicroSoft\Shell' /v GPS_BlTimeOut /t REG_DWORD /d 45 /f >/dev/null
wine reg add 'HKCU\Software\MicroSoft\Shell' /v GPS_PwrTimeOut /t REG_DWORD /d 240 /f >/dev/null
wine reg add 'HKCU\Software\MicroSoft\Shell' /v GPS_Backlight /t REG_DWORD /d 1 /f >/dev/null
wine reg add 'HKCU\Software\MicroSoft\Shell' /v GPS_Power /t REG_DWORD /d 1 /f >/dev/null
wine reg add 'HKCU\Software\Handheld\Gpio' /v GPLR1 /t REG_DWORD /d 0x40 /f >/dev/null
check "pin 38 high: the GPS backlight time-out is applied" 0x2d \
    "$(await_value 'HKCU\ControlPanel\Backlight' BatteryTimeout 0x2d)"
check "and the GPS suspend time-out" 0xf0 \
    "$(value BattSuspendTimeout "$(query 'HKLM\System\CurrentControlSet\Control\Power\Timeouts')")"
check "on battery with the receiver on, BKL1: gets GPS_Slide" 0xa \
    "$(await_value 'HKCU\Software\Handheld\Backlight' Level 0xa)"
gpio=$(query 'HKCU\Software\Handheld\Gpio')
check "the mode follows the pin: raise 38, then 21" "1C=00000040 18=00200000" "$(value Writes "$gpio")"
check "pin 21 reads high" 0x200000 "$(value GPLR0 "$gpio")"

# --- the reset sentence -----------------------------------------------------------------------

: >"$work/port/received"
check "0x0403 answers 1" 1 "$(field result "$(ctl send 0x0403)")"
printf '$PSRF101,-2686700,-4304200,3851624,75000,497260,921,12,8*29\r\n' >"$work/expected_sentence"
check "COM1 carries exactly the 61-byte sentence" "$(od -c "$work/expected_sentence")" "$(od -c "$work/port/received")"

# --- close ------------------------------------------------------------------------------------

check "WM_CLOSE ends the window" 1 "$(field closed "$(ctl close)")"
for _ in $(seq 100); do kill -0 "$pelorn" 2>/dev/null || break; sleep 0.1; done
wait "$pelorn"
check "and the process, with exit code 0" 0 "$?"

# --- second start, with COM1 on a node that is no device --------------------------------------

# open(2) of a socket fails with ENXIO, even for root; a missing node would not do, since Wine then
# falls back to /dev/ttyS0.
python3 -c 'import socket, sys; socket.socket(socket.AF_UNIX).bind(sys.argv[1])' "$work/port/nodevice"
map_com1 "$work/port/nodevice"
check "COM1 cannot be opened" failed "$(field open "$(ctl probe-port '\\.\COM1')")"

start_pelorn
out=$(ctl wait-window)
check "second start publishes a live window" 1 "$(field window "$out")"
app=$(query 'HKLM\SOFTWARE\Apps\Tavro SW')
check "second start does not provision again" 0x2d \
    "$(value GPS_BlTimeOut "$(query 'HKCU\Software\MicroSoft\Shell')")"

out=$(ctl send-answer 0x0403 "Fehler beim Öffnen des COM Ports")
check "0x0403 without COM1 shows the German message box" 1 "$(field box "$out")"
check "captioned with the application's name" Pelorn "$(field caption "$out")"
check "and answers 0 once OK is pressed" 0 "$(field result "$out")"
check "no message box is left" 0 "$(field boxes "$(ctl boxes)")"
check "WM_CLOSE ends the second window" 1 "$(field closed "$(ctl close)")"
wait "$pelorn"

# --- a first start with a receiver that says nothing ------------------------------------------

# The port's event wait must give up on a quiet line, or start-up would never end.
map_com1 "$pty"
wine reg delete 'HKLM\SOFTWARE\Apps\Tavro SW' /v AppReg /f >/dev/null
start_pelorn
out=$(ctl answer "Wrong GPS firmware")
check "a silent receiver ends in 'Wrong GPS firmware'" 1 "$(field box "$out")"
check "start-up goes on after OK" 1 "$(field window "$(ctl wait-window)")"
check "FW is the fallback" " 00.00.00.00" "$(value FW "$(query 'HKLM\SOFTWARE\Apps\Tavro SW')")"
check "WM_CLOSE ends the third window" 1 "$(field closed "$(ctl close)")"
wait "$pelorn"

# --- closed while a message box waits --------------------------------------------------------

# "Show" while the icon is shown: the add fails and its box waits; another program closes Pelorn.
start_pelorn
check "a fourth start publishes a live window" 1 "$(field window "$(ctl wait-window)")"
published=$(value GPSHDL "$(query 'HKLM\SOFTWARE\Apps\Tavro SW')")
check "0x0401 while shown is posted" 1 "$(field posted "$(ctl post 0x0401)")"
out=$(ctl close-under "Shell_NotifyIcon Failure")
check "WM_CLOSE under the failure box ends the window" "1 1" "$(field box "$out") $(field closed "$out")"
wait "$pelorn"
check "and the process, with exit code 0" 0 "$?"
check "GPSHDL still names the closed window" "$published" "$(value GPSHDL "$(query 'HKLM\SOFTWARE\Apps\Tavro SW')")"

# First run with a silent receiver: closed while "Wrong GPS firmware" waits, before GPSHDL is
# written. The close leaves GPSHDL as it was; the provisioning records the fallback version.
wine reg delete 'HKLM\SOFTWARE\Apps\Tavro SW' /v AppReg /f >/dev/null
wine reg delete 'HKLM\SOFTWARE\Apps\Tavro SW' /v FW /f >/dev/null
start_pelorn
out=$(ctl close-under "Wrong GPS firmware")
check "WM_CLOSE under 'Wrong GPS firmware' ends the window" "1 1" "$(field box "$out") $(field closed "$out")"
wait "$pelorn"
check "and the process, with exit code 0" 0 "$?"
app=$(query 'HKLM\SOFTWARE\Apps\Tavro SW')
check "GPSHDL is left as the close found it" "$published" "$(value GPSHDL "$app")"
check "FW records the fallback" " 00.00.00.00" "$(value FW "$app")"

# --- the trace and a fault, switched on from outside ------------------------------------------

# FILE CALL...: "valid" when every line is one JSON object with a time and a call, then the first
# record of each CALL, in the order the trace wrote them.
trace_firsts() {
    python3 - "$@" <<'EOF'
import json, sys
records = [json.loads(line) for line in open(sys.argv[1], encoding="utf-8")]
ok = records and all(isinstance(r.get("t"), int) and r["t"] >= 0 and isinstance(r.get("call"), str) for r in records)
print("valid" if ok else "invalid")
def show(r):
    c, result = r["call"], r.get("result")
    plain = {"RegOpenKeyEx": f"{r.get('hKey')}\\{r.get('lpSubKey')}", "Shell_NotifyIcon": r.get("op"),
             "SetTimer": r.get("ms"), "CreateWindowEx": r.get("lpWindowName"), "MessageBox": r.get("text")}
    if c == "CreateWindowEx": result = "window" if result else "none"
    return f"{c} {plain.get(c)}{' injected' if r.get('injected') else ''} {result}"
firsts = []
for c in sys.argv[2:]:
    i = next((i for i, r in enumerate(records) if r["call"] == c), None)
    if i is not None: firsts.append((i, show(records[i])))
print("|".join(s for _, s in sorted(firsts)))
EOF
}

trace=$work/trace.jsonl
PELORN_TRACE=$(wine winepath -w "$trace") start_pelorn
check "a traced start publishes a live window" 1 "$(field window "$(ctl wait-window)")"
check "WM_CLOSE ends the traced window" 1 "$(field closed "$(ctl close)")"
wait "$pelorn"
out=$(trace_firsts "$trace" RegOpenKeyEx Shell_NotifyIcon SetTimer CreateWindowEx)
check "PELORN_TRACE writes JSON Lines, a time and a call on each" valid "$(head -n1 <<<"$out")"
check "the first calls of a start, in the trace's order" \
    'Shell_NotifyIcon add 1|RegOpenKeyEx HKEY_LOCAL_MACHINE\SOFTWARE\Apps\Tavro SW 0|SetTimer 1500 1|CreateWindowEx Pelorn window' \
    "$(tail -n1 <<<"$out")"

# The fault list from the registry, as PELORN_FAIL would give it.
trace=$work/fault-trace.jsonl
wine reg add 'HKCU\Software\Handheld\Trace' /v Fail /d Shell_NotifyIcon:1 /f >/dev/null
PELORN_TRACE=$(wine winepath -w "$trace") start_pelorn
out=$(ctl answer "Shell_NotifyIcon Failure")
wine reg delete 'HKCU\Software\Handheld\Trace' /f >/dev/null
check "Trace\Fail=Shell_NotifyIcon:1: the tray add fails and its box shows" "1 Pelorn" \
    "$(field box "$out") $(field caption "$out")"
check "start-up goes on after OK, with no icon in the tray" "1 0" \
    "$(field window "$(ctl wait-window)") $(field icon "$(ctl tray)")"
# The icon is missing, so the next tick's update fails for real, and its box waits; the close's
# removal of the icon fails too, and shows its own box over it.
out=$(ctl close-under "Shell_NotifyIcon Failure")
check "WM_CLOSE under the tick's failure box shows the close's own box; OK on it ends the window" "1 1 1" \
    "$(field box "$out") $(field answered "$out") $(field closed "$out")"
wait "$pelorn"
check "the trace records the injected failure, then the box" \
    "Shell_NotifyIcon add injected 0|MessageBox Shell_NotifyIcon Failure 1" \
    "$(trace_firsts "$trace" Shell_NotifyIcon MessageBox | tail -n1)"

# --- the desktop: a click on the icon, the menu on the 240x320 screen, the About box ------------

shot() { import -window root "$shots/$1.png"; }
screen() { python3 "$here/linux/screen.py" "$1" "$shots/$2.png" "$shots/$3.png"; }
# The desktop repaints in its own time: photographs NAME until two shots in a row agree and NAME
# is the same picture as BASE (same) or not (other); prints where they differ.
settle() {  # NAME BASE same|other
    local d
    shot "$1"
    for _ in $(seq 40); do
        sleep 0.2
        mv "$shots/$1.png" "$shots/last.png"
        shot "$1"
        d=$(screen changed "$2" "$1")
        [ "$(screen changed last "$1")" == none ] && [ "$([ "$d" == none ] && echo same || echo other)" == "$3" ] && break
    done
    rm -f "$shots/last.png"
    echo "$d"
}

# Pin 38 low: the receiver is off and the icon holds still.
wine reg add 'HKCU\Software\Handheld\Gpio' /v GPLR1 /t REG_DWORD /d 0 /f >/dev/null
trace=$work/desktop-trace.jsonl
PELORN_TRACE=$(wine winepath -w "$trace") start_pelorn
check "a start on the desktop publishes a live window" 1 "$(field window "$(ctl wait-window)")"
# Where the icon is: what is drawn in the tray that goes when the icon is hidden.
settle desktop desktop same >/dev/null
ctl send 0x0402 >/dev/null
settle tray-hidden desktop other >/dev/null
ctl send 0x0401 >/dev/null
check "hidden and shown again, the icon is back as it was" none "$(settle tray-shown desktop same)"
icon=$(screen tray tray-hidden desktop)
IFS=, read -r left top right bottom <<<"$icon"
check "the icon shows in the tray on the screen's bottom rows" yes \
    "$([ "$icon" != none ] && [ "$top" -ge 280 ] && [ "$bottom" -le 320 ] && echo yes || echo "no: $icon")"
x=$(((left + right) / 2))
y=$(((top + bottom) / 2))

xdotool mousemove "$x" "$y" mousemove $((x - 3)) $((y + 1)) mousemove "$x" $((y - 2)) mousemove "$x" "$y"
sleep 1
shot hover
check "hovering over the icon opens no menu: the screen stays as it was" none "$(screen changed desktop hover)"
xdotool click 1
IFS=, read -r _ _ right bottom <<<"$(settle menu desktop other)"
desktop=$(xwininfo -root -tree | sed -n 's/.*"Default - Wine desktop".* \([0-9]*x[0-9]*\)+.*/\1/p')
check "a click opens the menu: right edge at its column, bottom at row 319 of the 240x320 desktop" \
    "$x 319 240x320" "$right $bottom $desktop"
xdotool mousemove 60 60 click 1
check "a click beside the menu closes it" none "$(settle closed desktop same)"

ctl post 0x0111 0xE140 >/dev/null  # WM_COMMAND ID_APP_ABOUT
IFS=, read -r cx cy <<<"$(field close "$(ctl close-box "About Pelorn")")"
shot about
check "the About box has a close box in its caption, on the screen" yes \
    "$([ "${cy:-}" ] && [ "$cx" -lt 240 ] && echo yes || echo "no: ${cx:-}")"
[ "${cy:-}" ] && xdotool mousemove "$cx" "$cy" click 1
for _ in $(seq 40); do
    boxes=$(field boxes "$(ctl boxes)")
    [ "$boxes" == 0 ] && break
    sleep 0.25
done
check "a click on it closes the About box" 0 "$boxes"
check "WM_CLOSE ends the desktop's window" 1 "$(field closed "$(ctl close)")"
wait "$pelorn"
check "the trace: one menu, at the click's column and row 319; About ended with IDOK" \
    "TrackPopupMenu $x,319|EndDialog 1|DialogBoxParam #100 1" \
    "$(python3 - "$trace" <<'EOF'
import json, sys
show = {"TrackPopupMenu": lambda r: f"{r['x']},{r['y']}", "EndDialog": lambda r: f"{r['nResult']}",
        "DialogBoxParam": lambda r: f"{r['lpTemplateName']} {r.get('result')}"}
records = [json.loads(line) for line in open(sys.argv[1], encoding="utf-8")]
print("|".join(f"{r['call']} {show[r['call']](r)}" for r in records if r["call"] in show))
EOF
)"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
