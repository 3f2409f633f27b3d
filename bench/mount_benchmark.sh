#!/usr/bin/env bash
# brq mount benchmark: reading through the mount against reading the
# archive straight, and against extracting it.
#
#   bench/mount_benchmark.sh [--rounds N] [--parts large,small,scale] [--quick] [--keep]
#                            [--wait-for-quiet MINUTES]
#
# Three parts, each side by side in the same run, rounds interleaved with
# the order alternating:
#   large   one file of 256 MiB read with dd (bs=1M) through the mount and
#           straight from the archive (dd skip/count in bytes at the file's
#           data position), cold (page cache dropped), warm (read again)
#           and once more (a third time);
#   small   10,000 files of 1 KiB in 10 folders: `find MOUNT -type f |
#           xargs cat` on a fresh mount (cold) and again on it (warm),
#           against Kelvarin_Extract of the same archive into a new folder;
#   scale   an archive of 1,000,001 entries (the root, 1,000 folders of 999
#           one-byte files): how long `brq mount` takes to return with the mount in
#           place, its peak memory and the serving process's memory after
#           `find` has visited everything, against `brq check` (which
#           loads the same index and nothing more).
# Cold rounds drop the page cache (echo 3 > /proc/sys/vm/drop_caches, as
# root); where that can't be done the script says so and "cold" rounds
# are only as cold as the machine leaves them.
# --quick makes everything small (a smoke check). --wait-for-quiet checks
# the load once a minute and starts when the 1-minute load is below 0.7,
# or after MINUTES whatever the load. Scratch data go to
# $BENCH_DIR (default /tmp) and are removed at the end (--keep leaves them).
set -euo pipefail

# repo and build_dir, and what the benchmarks share.
. "$(dirname "$0")/bench_lib.sh"
rounds=5
parts="large,small,scale"
wait_minutes=0

# The options of this benchmark alone, each with its value.
own_option() {  # option value
  case "$1" in
    --parts) parts="$2" ;;
    --wait-for-quiet) wait_minutes="$2" ;;
    *) taken=0 ;;
  esac
}
take_options "--rounds --quick --keep" own_option "$@"

if [ ! -c /dev/fuse ] || ! command -v fusermount3 >/dev/null; then
  echo "needs /dev/fuse and fusermount3 (Debian's fuse3)" >&2
  exit 1
fi
[ -x /usr/bin/time ] || { echo "needs GNU time (Debian's time)" >&2; exit 1; }
build_targets Kelvarin_Extract brq
brq="$build_dir/brq"
extractor="$build_dir/Kelvarin_Extract"

scratch="$(scratch_folder kelvarin-mount-bench)"
mounts=()
cleanup() {
  for point in "${mounts[@]}"; do fusermount3 -u "$point" 2>/dev/null || true; done
  remove_scratch
}
trap cleanup EXIT

can_drop=0
if [ -w /proc/sys/vm/drop_caches ] && sync && echo 3 >/proc/sys/vm/drop_caches 2>/dev/null; then
  can_drop=1
fi
drop_caches() { if [ "$can_drop" = 1 ]; then sync; echo 3 >/proc/sys/vm/drop_caches; fi; }

is_mounted() { grep -qF " $1 " /proc/self/mountinfo; }
mount_at() {  # archive point
  mkdir -p "$2"
  "$brq" mount "$1" "$2"
  mounts+=("$2")
}
unmount() {
  fusermount3 -u "$1"
  # The serving process ends on its own once the kernel lets go.
  while is_mounted "$1"; do sleep 0.01; done
}
# Seconds `"$@"` takes, output to /dev/null.
seconds() {
  local start=$EPOCHREALTIME
  "$@" >/dev/null
  seconds_since "$start"
  echo
}
stats() {  # file: "median min max"
  local values
  values="$(<"$1")"
  echo "$(median "$values") $(lowest "$values") $(highest "$values")"
}
row() {  # label file
  read -r med low high <<<"$(stats "$2")"
  printf '| %-38s | %8.3f | %8.3f | %8.3f |\n' "$1" "$med" "$low" "$high"
}

wait_for_quiet "$wait_minutes"

echo "Machine:  $(machine_summary)"
echo "Kernel:   $(uname -sr); FUSE $(fusermount3 --version 2>&1 | awk '{ print $NF }')"
echo "Scratch:  $scratch ($(findmnt -n -o FSTYPE -T "$scratch" 2>/dev/null || echo '?'))"
echo "Caches:   $([ "$can_drop" = 1 ] && echo 'dropped before each cold read' || echo 'can NOT be dropped here (not root?): cold reads are not cold')"
echo "Rounds:   $rounds$([ "$quick" = 1 ] && echo ', quick sizes')"
echo "Load:     $(cut -d' ' -f1-3 /proc/loadavg) at start"
echo

part() { [[ ",$parts," == *",$1,"* ]]; }

# ---------------------------------------------------------------- large --
if part large; then
large_mib=$([ "$quick" = 1 ] && echo 16 || echo 256)
mkdir -p "$scratch/large/src"
head -c "${large_mib}M" /dev/urandom >"$scratch/large/src/big.pak"
echo "small" >"$scratch/large/src/readme.txt"
"$brq" pack "$scratch/large/src" "$scratch/large/tree.brq" >/dev/null
read -r _ size position _ <<<"$("$brq" list "$scratch/large/tree.brq" | grep ' big.pak$')"
point="$scratch/large/mnt"
mount_at "$scratch/large/tree.brq" "$point"
through_mount() { dd if="$point/big.pak" of=/dev/null bs=1M status=none; }
from_archive() {
  dd if="$scratch/large/tree.brq" of=/dev/null bs=1M iflag=skip_bytes,count_bytes \
    skip="$position" count="$size" status=none
}
cmp "$point/big.pak" "$scratch/large/src/big.pak"
for round in $(seq "$rounds"); do
  for way in $([ $((round % 2)) = 1 ] && echo "through_mount from_archive" || echo "from_archive through_mount"); do
    drop_caches
    seconds "$way" >>"$scratch/large/$way.cold"
    seconds "$way" >>"$scratch/large/$way.warm"
    seconds "$way" >>"$scratch/large/$way.again"
  done
done
unmount "$point"
fi

# ---------------------------------------------------------------- small --
if part small; then
small_files=$([ "$quick" = 1 ] && echo 1000 || echo 10000)
generate_tree small "$scratch/small/src" "$quick"
"$brq" pack "$scratch/small/src" "$scratch/small/tree.brq" >/dev/null
read_all() { find "$1" -type f -print0 | xargs -0 cat; }
for round in $(seq "$rounds"); do
  point="$scratch/small/mnt$round"
  for way in $([ $((round % 2)) = 1 ] && echo "mount extract" || echo "extract mount"); do
    drop_caches
    if [ "$way" = mount ]; then
      start=$EPOCHREALTIME
      mount_at "$scratch/small/tree.brq" "$point"
      read_all "$point" >/dev/null
      echo "$(seconds_since "$start")" >>"$scratch/small/mount.cold"
      seconds read_all "$point" >>"$scratch/small/mount.warm"
    else
      seconds "$extractor" e "$scratch/small/tree.brq" "$scratch/small/out$round" >>"$scratch/small/extract"
    fi
  done
  [ "$round" = 1 ] && diff -r "$scratch/small/src" "$point"
  unmount "$point"
done
fi

# ---------------------------------------------------------------- scale --
if part scale; then
scale_folders=$([ "$quick" = 1 ] && echo 100 || echo 1000)
python3 - "$scratch/scale.brq" "$scale_folders" <<'PY'
# Written in the format directly (archive/archive_format.h): a million
# files made on disk for brq pack would take many minutes here.
import struct, sys
path, folders = sys.argv[1], int(sys.argv[2])
per_folder = 999
entries, sizes, names, name_at = [], [], bytearray(), {}
def name(text):
    if text not in name_at:
        name_at[text] = len(names)
        names.extend(text.encode() + b"\0")
    return name_at[text]
files = folders * per_folder
count = 1 + folders + files
# Entry 0 the root, then each folder followed by its files.
entries.append((-1, 1, -1, name("")))
sizes.append(0)
for d in range(folders):
    at = 1 + d * (per_folder + 1)
    following = at + per_folder + 1
    entries.append((following if d + 1 < folders else -1, at + 1, -1, name(f"d{d:05d}")))
    sizes.append(0)
    for f in range(per_folder):
        entries.append((at + 2 + f if f + 1 < per_folder else -1, -1, -1, name(f"f{f:04d}.dat")))
        sizes.append(1)
index = 24 + 28 * count + 4 * files + len(names)
data = (index + 15) // 16 * 16
out = bytearray(struct.pack("<6I", 0, 0, count, files, len(names), 0))
out += b"".join(struct.pack("<iiiI", *e) for e in entries)
out += b"".join(struct.pack("<IiI", 0, s, 0) for s in sizes)
out += b"".join(struct.pack("<I", data // 16 + i) for i in range(files))
out += names
out += b"\0" * (data - len(out))
out += b"x" * (16 * files)
open(path, "wb").write(out)
PY
for round in $(seq "$rounds"); do
  point="$scratch/scale-mnt"
  mkdir -p "$point"
  /usr/bin/time -f %M -o "$scratch/check.rss" "$brq" check "$scratch/scale.brq" >/dev/null
  tail -1 "$scratch/check.rss" >>"$scratch/check.kib"
  start=$EPOCHREALTIME
  /usr/bin/time -f %M -o "$scratch/mount.rss" "$brq" mount "$scratch/scale.brq" "$point"
  echo "$(seconds_since "$start")" >>"$scratch/mount.seconds"
  mounts+=("$point")
  tail -1 "$scratch/mount.rss" >>"$scratch/mount.kib"
  entries=$(find "$point" | wc -l)
  # The serving process: the one brq whose command line names this mount.
  for process in /proc/[0-9]*; do
    if [[ "$(tr '\0' ' ' <"$process/cmdline" 2>/dev/null)" == "$brq mount $scratch/scale.brq $point "* ]]; then
      awk '/VmHWM/ { print $2 }' "$process/status" >>"$scratch/served.kib"
    fi
  done
  unmount "$point"
done
fi

# -------------------------------------------------------------- results --
if part large; then
echo "large: one file of $large_mib MiB, dd bs=1M, seconds"
echo "| read | median | min | max |"
echo "|---|---:|---:|---:|"
row "through the mount, cold" "$scratch/large/through_mount.cold"
row "straight from the archive, cold" "$scratch/large/from_archive.cold"
row "through the mount, warm" "$scratch/large/through_mount.warm"
row "straight from the archive, warm" "$scratch/large/from_archive.warm"
row "through the mount, warm, once more" "$scratch/large/through_mount.again"
row "straight from the archive, once more" "$scratch/large/from_archive.again"
for heat in cold warm again; do
  awk -v a="$(median "$(<"$scratch/large/through_mount.$heat")")" -v b="$(median "$(<"$scratch/large/from_archive.$heat")")" \
    -v h="$heat" 'BEGIN { printf "%s: mount / archive %.2f\n", h, a / b }'
done
echo
fi
if part small; then
echo "small: $small_files files of 1 KiB, seconds"
echo "| way | median | min | max |"
echo "|---|---:|---:|---:|"
row "mount + find | xargs cat, cold" "$scratch/small/mount.cold"
row "find | xargs cat again, warm" "$scratch/small/mount.warm"
row "Kelvarin_Extract into a new folder" "$scratch/small/extract"
awk -v a="$(median "$(<"$scratch/small/mount.cold")")" -v b="$(median "$(<"$scratch/small/extract")")" \
  'BEGIN { printf "cold mount and read / extraction %.2f\n", a / b }'
echo
fi
if part scale; then
echo "scale: $(( scale_folders * 1000 + 1 )) entries, $((entries - 1)) folders and files below the mount point"
echo "| measure | median | min | max |"
echo "|---|---:|---:|---:|"
row "brq mount until mounted, s" "$scratch/mount.seconds"
row "brq mount peak RSS, MiB" <(awk '{ printf "%.1f\n", $1 / 1024 }' "$scratch/mount.kib")
row "serving process after find, MiB" <(awk '{ printf "%.1f\n", $1 / 1024 }' "$scratch/served.kib")
row "brq check (the index alone), MiB" <(awk '{ printf "%.1f\n", $1 / 1024 }' "$scratch/check.kib")
fi
echo "Load:     $(cut -d' ' -f1-3 /proc/loadavg) at the end"
