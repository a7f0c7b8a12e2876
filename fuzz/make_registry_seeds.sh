#!/usr/bin/env bash
# Makes the seeds of registry_db_fuzz in corpus/registry_db/: the registry of a device booted by
# the handheld command line with a few values in it, the same in 512-byte pages, and copies of that
# which each fail a later check of the loader (layout, root keys, tables, damaged or cut pages).
# Usage: fuzz/make_registry_seeds.sh PATH/TO/handheld   (needs the sqlite3 shell)
set -euo pipefail
handheld="$(realpath "$1")"
out="$(cd "$(dirname "$0")" && pwd)/corpus/registry_db"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"
cd "$work"

export PELORN_DEVICE="$work/device"
"$handheld" --new reg add 'HKLM\Software\Pelorn' /v Port /d COM1: >/dev/null
"$handheld" reg add 'HKLM\Software\Pelorn' /v GPSHDL /t REG_DWORD /d 0x10001 >/dev/null
"$handheld" reg add 'HKCU\ControlPanel\Backlight' /v Raw /t REG_BINARY /d 0102ff >/dev/null
cp device/registry.db "$out/booted"
cp device/registry.db small
sqlite3 small "PRAGMA page_size = 512; VACUUM;"
cp small "$out/small"

variant() {  # NAME SQL
  cp small "$1"
  sqlite3 "$1" "$2" >/dev/null
  cp "$1" "$out/$1"
}
variant layout2 "PRAGMA user_version = 2"
variant no_root "DELETE FROM keys WHERE id = 4"
variant no_vals "DROP TABLE vals"
variant wal "PRAGMA journal_mode = WAL"
variant other_app "PRAGMA application_id = 7"

size=$(stat -c %s small)
head -c 100 small >"$out/header_only"
head -c $((size / 2)) small >"$out/cut_in_half"
# A byte of the last page's cells (the data: indexes no longer match) and one of a page header
# (the structure: the quick check fails).
cp small "$out/flipped_cell"
printf '\x5a' | dd of="$out/flipped_cell" bs=1 seek=$((size - 40)) conv=notrunc status=none
cp small "$out/flipped_page_header"
printf '\xff' | dd of="$out/flipped_page_header" bs=1 seek=$((512 * 3 + 3)) conv=notrunc status=none
