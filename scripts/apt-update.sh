#!/usr/bin/env bash
# Refreshes apt's package indexes. A mirror caught mid-sync fails an index now and then (the i386
# one of the security archive, for weeks at a time): try again, then go on with the indexes that
# came. What needs a missing index fails at its install or download, and says so there.
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
for attempt in 1 2 3; do
  $sudo apt-get update -qq && exit 0
  echo "apt-update.sh: apt-get update failed (attempt $attempt of 3)" >&2
  [ "$attempt" -eq 3 ] || sleep $((attempt * 10))
done
echo "apt-update.sh: going on with the indexes that came" >&2
exit 0
