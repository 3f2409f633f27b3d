#!/usr/bin/env bash
# Extraction benchmark: Kelvarin_Extract against GNU tar, bsdtar and cp -r.
#
#   bench/run_benchmark.sh [--quick] [--rounds N] [--trees large,small,mixed,deep]
#                          [--baseline EXECUTABLE] [--wait-for-quiet MINUTES] [--keep]
#
# For each tree (large: 4 files of 256 MiB; small: 10,000 files of 1 KiB in
# 10 folders; mixed: 10,000 files of log-normal sizes, median 16 KiB, in
# nested folders; deep: 10,000 files of 1 KiB eight folders down) it
# generates the files deterministically, packs them with brq pack and into
# an uncompressed tar, then runs every tool once per round, in an order
# that rotates from round to round, each into a fresh, empty folder after a
# sync. It prints the median time of each tool, the ratios to each peer and
# the peak memory. cp -r of the source tree is the kernel's own copy: a
# floor, not a peer. --baseline adds another Kelvarin_Extract (an older
# build, say) to the rotation, so that two versions are timed side by side
# in one run.
#
# Trees of many files and their outputs stay until the end: on ext4
# without a journal, every file created after thousands were deleted is
# slowed down by a scan over the deleted inodes for minutes, which would
# time this script's own clean-up instead of the tools (docs/benchmarks.md).
#
# --quick uses small trees (a smoke check in well under a minute).
# --wait-for-quiet checks the load once a minute and starts when the
# 1-minute load is below 0.7, or after MINUTES whatever the load.
# Scratch data go to $BENCH_DIR (default /tmp) and are removed at the end
# (--keep leaves them).
# The build is taken from $KELVARIN_BUILD_DIR (default build/), made first
# when it is missing.
set -euo pipefail

repo="$(cd "$(dirname "$0")/.." && pwd)"
build_dir="${KELVARIN_BUILD_DIR:-$repo/build}"
rounds=5
quick=0
keep=0
wait_minutes=0
trees="large,small,mixed,deep"
baseline=""

while [ $# -gt 0 ]; do
  case "$1" in
    --quick) quick=1 ;;
    --rounds) rounds="$2"; shift ;;
    --trees) trees="$2"; shift ;;
    --baseline) baseline="$(realpath "$2")"; shift ;;
    --keep) keep=1 ;;
    --wait-for-quiet) wait_minutes="$2"; shift ;;
    -h|--help) awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"; exit 0 ;;
    *) echo "unknown option: $1 (try --help)" >&2; exit 64 ;;
  esac
  shift
done
if [ "$quick" = 1 ] && [ "$rounds" = 5 ]; then rounds=3; fi

# ---------------------------------------------------------------- tools --
need_packages=()
command -v bsdtar >/dev/null || need_packages+=(libarchive-tools)
[ -x /usr/bin/time ] || need_packages+=(time)
command -v python3 >/dev/null || need_packages+=(python3)
if [ ${#need_packages[@]} -gt 0 ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "missing: ${need_packages[*]} (install them, or run as root)" >&2
    exit 1
  fi
  apt-get update -q >/dev/null
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${need_packages[@]}" >/dev/null
fi

if [ ! -x "$build_dir/Kelvarin_Extract" ] || [ ! -x "$build_dir/brq" ]; then
  (cd "$repo" && cmake --workflow --preset build >/dev/null)
else
  cmake --build "$build_dir" --target Kelvarin_Extract brq >/dev/null
fi
extractor="$build_dir/Kelvarin_Extract"
brq="$build_dir/brq"

scratch_parent="${BENCH_DIR:-/tmp}"
mkdir -p "$scratch_parent"
scratch="$(mktemp -d "$scratch_parent/kelvarin-bench.XXXXXX")"
cleanup() { [ "$keep" = 1 ] || rm -rf "$scratch"; }
trap cleanup EXIT

# ----------------------------------------------------------------- quiet --
waited=0
while [ "$waited" -lt "$wait_minutes" ] &&
      awk '{ exit !($1 >= 0.7) }' /proc/loadavg; do
  echo "load $(cut -d' ' -f1 /proc/loadavg): waiting ($waited of $wait_minutes minutes)"
  sleep 60
  waited=$((waited + 1))
done

# -------------------------------------------------------------- machine --
cpu="$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')"
mem_kib="$(awk '/MemTotal/ {print $2}' /proc/meminfo)"
fs_type="$(findmnt -n -o FSTYPE -T "$scratch" 2>/dev/null || stat -f -c %T "$scratch")"
fs_options="$(findmnt -n -o OPTIONS -T "$scratch" 2>/dev/null || true)"
if [ "$fs_type" = ext4 ]; then
  # A journaled ext4 has a jbd2 entry for its device; without one, file
  # creation scans recently freed inodes (see docs/benchmarks.md).
  fs_device="$(findmnt -n -o SOURCE -T "$scratch" | sed 's|^/dev/||')"
  if ls /proc/fs/jbd2/ 2>/dev/null | grep -q "^$fs_device-"; then
    fs_type="ext4 with journal"
  else
    fs_type="ext4 without journal"
  fi
fi
echo "Machine:     $cpu, $(nproc) cores, $(awk -v k="$mem_kib" 'BEGIN { printf "%.1f", k / 1048576 }') GiB RAM"
echo "Kernel:      $(uname -sr)"
echo "Scratch:     $scratch ($fs_type${fs_options:+, $fs_options})"
echo "Tools:       $(tar --version | head -1); $(bsdtar --version | cut -d' ' -f1-2);" \
     "$(cp --version | head -1)"
echo "Rounds:      $rounds per tree$([ "$quick" = 1 ] && echo ', quick trees')"
echo "Load:        $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min) at start"
echo

# ------------------------------------------------------------ the trees --
# Deterministic: fixed seeds, names and sizes; the bytes are pseudo-random
# so that nothing along the way can shortcut them.
generate_tree() {  # kind folder quick
  python3 - "$@" <<'PY'
import os, random, sys
kind, root, quick = sys.argv[1], sys.argv[2], sys.argv[3] == "1"
rng = random.Random(20240607)

def write(path, size):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(rng.randbytes(size))

if kind == "large":
    mib = 16 if quick else 256
    block = 1 << 20
    for i in range(4):
        seed_block = rng.randbytes(block)
        with open(os.path.join(root, f"data{i}.pak"), "wb") as f:
            for m in range(mib):
                # Every MiB differs: its number leads the block.
                f.write(m.to_bytes(8, "little") + seed_block[8:])
elif kind == "small":
    files = 1000 if quick else 10000
    for i in range(files):
        write(os.path.join(root, f"folder{i % 10}", f"file{i:05d}.dat"), 1024)
elif kind == "mixed":
    files = 1000 if quick else 10000
    # Nested folders: 6 top folders, 4 below each, 3 below those.
    folders = []
    for a in range(6):
        folders.append(f"area{a}")
        for b in range(4):
            folders.append(f"area{a}/zone{b}")
            for c in range(3):
                folders.append(f"area{a}/zone{b}/part{c}")
    extensions = [".tex", ".mdl", ".ogg", ".map", ".txt", ".dat"]
    median = 16 * 1024
    for i in range(files):
        size = int(rng.lognormvariate(0.0, 1.0) * median)
        size = max(1, min(size, 64 << 20))
        folder = folders[rng.randrange(len(folders))]
        write(os.path.join(root, folder, f"asset{i:05d}{extensions[i % 6]}"), size)
elif kind == "deep":
    files = 1000 if quick else 10000
    # Ten chains of eight folders; the files in the deepest of each.
    for i in range(files):
        chain = os.path.join(f"top{i % 10}", *[f"level{n}" for n in range(2, 9)])
        write(os.path.join(root, chain, f"file{i:05d}.dat"), 1024)
PY
}

# --------------------------------------------------------------- timing --
# Runs one tool into the fresh, empty folder `out`; prints "seconds peak_kib".
run_once() {  # tool tree_dir out
  local tool="$1" dir="$2" out="$3" start end
  mkdir "$out"
  sync
  start=$EPOCHREALTIME
  case "$tool" in
    kelvarin) /usr/bin/time -f %M -o "$dir/rss" "$extractor" e "$dir/tree.brq" "$out" >/dev/null ;;
    baseline) /usr/bin/time -f %M -o "$dir/rss" "$baseline" e "$dir/tree.brq" "$out" >/dev/null ;;
    tar) /usr/bin/time -f %M -o "$dir/rss" tar -xf "$dir/tree.tar" -C "$out" ;;
    bsdtar) /usr/bin/time -f %M -o "$dir/rss" bsdtar -xf "$dir/tree.tar" -C "$out" ;;
    cp) /usr/bin/time -f %M -o "$dir/rss" cp -r "$dir/src/." "$out" ;;
  esac
  end=$EPOCHREALTIME
  echo "$(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.4f", e - s }') $(tail -1 "$dir/rss")"
}

median() { sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

tools=(kelvarin tar bsdtar cp)
peers=(tar bsdtar cp)
declare -A label=([kelvarin]="Kelvarin_Extract" [baseline]="baseline" [tar]="GNU tar -xf"
                  [bsdtar]="bsdtar -xf" [cp]="cp -r (floor)")
if [ -n "$baseline" ]; then
  tools=(kelvarin baseline tar bsdtar cp)
  peers=(baseline tar bsdtar cp)
  label[baseline]="baseline ($(basename "$(dirname "$baseline")"))"
fi
summary=()

bench_tree() {  # kind
  local kind="$1" dir="$scratch/$1"
  mkdir -p "$dir/src"
  echo "== $kind: generating"
  generate_tree "$kind" "$dir/src" "$quick"
  "$brq" pack "$dir/src" "$dir/tree.brq" >/dev/null
  tar -cf "$dir/tree.tar" --sort=name -C "$dir/src" .
  local files bytes
  files=$(find "$dir/src" -type f | wc -l)
  bytes=$(du -sb "$dir/src" | cut -f1)
  echo "   $files files, $((bytes / 1024 / 1024)) MiB; archive $(($(stat -c %s "$dir/tree.brq") / 1024 / 1024)) MiB," \
       "tar $(($(stat -c %s "$dir/tree.tar") / 1024 / 1024)) MiB"
  # Inputs in the page cache before the first timed run, as for later ones.
  cat "$dir/tree.brq" "$dir/tree.tar" >/dev/null
  find "$dir/src" -type f -exec cat {} + >/dev/null

  # Outputs of many files are kept until the end where the disk has room
  # for all of them (see the top of this file).
  local keep_outputs=0 avail_kib used_kib
  avail_kib=$(df -Pk "$dir" | awk 'NR == 2 { print $4 }')
  used_kib=$(du -sk "$dir/src" | cut -f1)
  if [ "$files" -ge 1000 ]; then
    if [ "$avail_kib" -gt $((used_kib * (rounds * ${#tools[@]} + 2))) ]; then
      keep_outputs=1
    else
      echo "   (not enough space to keep the outputs: each is removed after its run)"
    fi
  fi

  declare -A times=() rss=()
  local round i tool result out
  for ((round = 0; round < rounds; round++)); do
    local line="   round $((round + 1)):"
    for ((i = 0; i < ${#tools[@]}; i++)); do
      tool=${tools[$(((i + round) % ${#tools[@]}))]}
      out="$dir/out-$round-$tool"
      result=$(run_once "$tool" "$dir" "$out")
      times[$tool]+="${result% *} "
      rss[$tool]+="${result#* } "
      line+=" $tool ${result% *}s"
      if [ "$round" = 0 ] && ! diff -rq "$dir/src" "$out" >/dev/null; then
        echo "   $tool: the output differs from the source tree" >&2
        exit 1
      fi
      [ "$keep_outputs" = 1 ] || rm -rf "$out"
    done
    echo "$line"
  done

  declare -A med=()
  echo
  printf '   %-18s %10s %10s %10s %12s\n' "tool" "median s" "min s" "max s" "peak MiB"
  for tool in "${tools[@]}"; do
    med[$tool]=$(tr ' ' '\n' <<<"${times[$tool]}" | grep . | median)
    local lo hi mem
    lo=$(tr ' ' '\n' <<<"${times[$tool]}" | grep . | sort -g | head -1)
    hi=$(tr ' ' '\n' <<<"${times[$tool]}" | grep . | sort -g | tail -1)
    mem=$(tr ' ' '\n' <<<"${rss[$tool]}" | grep . | sort -g | tail -1)
    printf '   %-18s %10.3f %10.3f %10.3f %12.1f\n' "${label[$tool]}" "${med[$tool]}" "$lo" "$hi" \
      "$(awk -v k="$mem" 'BEGIN { print k / 1024 }')"
    summary+=("$kind|${label[$tool]}|${med[$tool]}|$lo|$hi|$mem")
  done
  echo
  # Ratios of medians, and the spread of the same ratio taken round by round.
  for tool in "${peers[@]}"; do
    local per_round
    per_round=$(paste -d' ' <(tr ' ' '\n' <<<"${times[kelvarin]}" | grep .) \
                            <(tr ' ' '\n' <<<"${times[$tool]}" | grep .) |
                awk '{ r = $1 / $2; if (NR == 1 || r < lo) lo = r; if (NR == 1 || r > hi) hi = r }
                     END { printf "%.2f-%.2f", lo, hi }')
    printf '   Kelvarin_Extract / %-14s = %5.2f   (per round %s)\n' "${label[$tool]}" \
      "$(awk -v a="${med[kelvarin]}" -v b="${med[$tool]}" 'BEGIN { print a / b }')" "$per_round"
  done
  local peak_mib
  peak_mib=$(tr ' ' '\n' <<<"${rss[kelvarin]}" | grep . | sort -g | tail -1)
  case "$kind" in
    large)
      awk -v k="${med[kelvarin]}" -v c="${med[cp]}" -v t="${med[tar]}" -v m="$peak_mib" 'BEGIN {
        printf "   target: at most 1.10 x cp -r ........ %s (%.2f)\n", (k <= 1.10 * c) ? "met" : "MISSED", k / c
        printf "   target: 2.5 x faster than GNU tar ... %s (%.2f x)\n", (t >= 2.5 * k) ? "met" : "MISSED", t / k
        printf "   target: peak memory 8 MiB ........... %s (%.1f MiB)\n", (m <= 8192) ? "met" : "MISSED", m / 1024 }' ;;
    *)
      awk -v k="${med[kelvarin]}" -v t="${med[tar]}" -v b="${med[bsdtar]}" 'BEGIN {
        best = (t < b) ? t : b
        printf "   target: no slower than the faster tar ... %s (%.2f)\n", (k <= best) ? "met" : "MISSED", k / best }' ;;
  esac
  echo
  # A tree of many files goes with the scratch folder at the end, after
  # every timed run.
  [ "$keep" = 1 ] || [ "$keep_outputs" = 1 ] || rm -rf "$dir"
}

IFS=',' read -r -a selected <<<"$trees"
for kind in "${selected[@]}"; do
  case "$kind" in
    large|small|mixed|deep) bench_tree "$kind" ;;
    *) echo "unknown tree: $kind" >&2; exit 64 ;;
  esac
done

echo "Load:        $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min) at the end"
echo
echo "| tree | tool | median s | min s | max s | peak RSS MiB |"
echo "|---|---|---:|---:|---:|---:|"
for row in "${summary[@]}"; do
  IFS='|' read -r kind tool m lo hi mem <<<"$row"
  awk -v k="$kind" -v t="$tool" -v m="$m" -v lo="$lo" -v hi="$hi" -v mem="$mem" \
    'BEGIN { printf "| %s | %s | %.3f | %.3f | %.3f | %.1f |\n", k, t, m, lo, hi, mem / 1024 }'
done
