#!/usr/bin/env bash
# brq's edits as Windows runs them, under Wine: an edit killed at spread
# moments leaves the old archive or the new one whole and the next edit
# finishes; two edits at once each change the archive or are refused,
# never lost. Run by the Windows build's tests as
#   edit_under_wine.sh BRQ_EXE RUNNER...
# where RUNNER is the command that runs a Windows program (Wine).
set -euo pipefail
brq_exe="$1"
shift
runner=("$@")
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"

brq() { "${runner[@]}" "$brq_exe" "$@"; }
fail() { echo "FAILED: $*" >&2; exit 1; }

mkdir src
for i in $(seq 0 39); do head -c 4194304 /dev/urandom >"src/f$i"; done
head -c 3145728 /dev/urandom >new.bin
brq pack src a.brq >/dev/null
cp a.brq old.brq
brq add -q a.brq new.bin
cp a.brq new.brq

old_seen=0
for delay in 0.02 0.05 0.08 0.12 0.16 0.2 0.25 0.3 0.4 0.6; do
  cp old.brq a.brq
  "${runner[@]}" "$brq_exe" add -q a.brq new.bin >/dev/null 2>&1 &
  child=$!
  sleep "$delay"
  kill -9 "$child" 2>/dev/null || true
  wait "$child" 2>/dev/null || true
  if cmp -s a.brq old.brq; then
    old_seen=$((old_seen + 1))
  elif ! cmp -s a.brq new.brq; then
    fail "killed after ${delay}s, the archive is neither the old one nor the new one"
  fi
  # The next edit finishes the change and removes the killed one's leftover.
  brq add -q a.brq new.bin || fail "the edit after a kill at ${delay}s failed"
  cmp -s a.brq new.brq || fail "the edit after a kill at ${delay}s gave other bytes"
  ! compgen -G '.kelvarin-*' >/dev/null || fail "a leftover stays after a kill at ${delay}s: $(echo .kelvarin-*)"
done
[ "$old_seen" -gt 0 ] || fail "no kill came before the new archive took the name"

for round in 1 2 3; do
  first="f$((2 * round))" second="f$((2 * round + 1))"
  "${runner[@]}" "$brq_exe" rm -q a.brq "$first" >/dev/null 2>one.err &
  one=$!
  "${runner[@]}" "$brq_exe" rm -q a.brq "$second" >/dev/null 2>two.err &
  two=$!
  status_one=0 status_two=0
  wait "$one" || status_one=$?
  wait "$two" || status_two=$?
  listed="$(brq list a.brq)"
  for pair in "$status_one:$first" "$status_two:$second"; do
    status="${pair%%:*}" name="${pair#*:}"
    case "$status" in
      0) ! grep -q " $name$" <<<"$listed" || fail "rm $name said it was done, and $name is still there" ;;
      1) grep -q " $name$" <<<"$listed" || fail "rm $name was refused, and $name is gone" ;;
      *) fail "rm $name ended with status $status: $(cat one.err two.err)" ;;
    esac
  done
done
echo "edits killed at 10 moments ($old_seen before the new archive took the name), 3 pairs at once: sound"
