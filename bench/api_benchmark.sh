#!/usr/bin/env bash
# C API benchmark: what a program built on libkelvarin pays against the
# programs themselves, and how fast it finds one file in a huge archive.
#
#   bench/api_benchmark.sh [--quick] [--rounds N] [--trees large,small,mixed,deep]
#                          [--target ext4|tmpfs|both] [--entries N] [--keep]
#
# (a) Extraction: bench/api_extract (kelvarin_open_path, kelvarin_extract)
#     against Kelvarin_Extract, both with their default workers, on the
#     trees of run_benchmark.sh (made by bench_lib.sh from the same seeds,
#     packed with brq pack), onto a fresh ext4 made for every run (a sparse
#     image in /dev/shm, loop-mounted) and onto tmpfs (/dev/shm). After one
#     untimed run, each round runs both, in an order that alternates; the
#     first output of each on each target is compared with the source. The
#     goal: the C API within 5 % of Kelvarin_Extract.
# (b) One file out of a huge archive: a tree of --entries entries (default
#     1,000,000: 1,000 folders of 999 files of 64 bytes) as tree.brq (brq
#     pack), tree.zip (zip -0) and tree.7z (7z -mx0); then, each a fresh
#     process with the archive in the page cache, the file in the middle
#     read to /dev/null by `api_extract cat` (open, load the index, read),
#     `brq cat`, `unzip -p` and `7z e -so`.
# Every figure is a median over the rounds (5, or 3 with --quick), with the
# peak memory of the runs (/usr/bin/time -f %M).
#
# Needs root for ext4 (loop devices, mkfs.ext4; without, tmpfs alone) and
# installs zip, p7zip-full and time when missing. --quick makes the trees of
# run_benchmark.sh --quick and 100,000 entries for (b). Scratch data go to
# $BENCH_DIR (default /tmp; the tree of (b) to /dev/shm where there is one)
# and are removed at the end unless --keep. The build is taken from
# $KELVARIN_BUILD_DIR (default build/); its Kelvarin_Extract, brq and
# bench/api_extract are built first.
set -euo pipefail

# repo and build_dir, and what the benchmarks share.
. "$(dirname "$0")/bench_lib.sh"
rounds=5
trees="large,small,mixed,deep"
target=both
entries=""

# The options of this benchmark alone, each with its value.
own_option() {  # option value
  case "$1" in
    --trees) trees="$2" ;;
    --target) target="$2" ;;
    --entries) entries="$2" ;;
    *) taken=0 ;;
  esac
}
take_options "--quick --rounds --keep" own_option "$@"
quick_rounds 3
if [ -z "$entries" ]; then entries=$([ "$quick" = 1 ] && echo 100000 || echo 1000000); fi
check_choice target "$target" ext4 tmpfs both
select_trees "$trees" large small mixed deep
unset KELVARIN_JOBS

need_packages=()
command -v zip >/dev/null && command -v unzip >/dev/null || need_packages+=(zip unzip)
command -v 7z >/dev/null || need_packages+=(p7zip-full)
[ -x /usr/bin/time ] || need_packages+=(time)
install_packages "${need_packages[@]}" || exit 1

build_targets Kelvarin_Extract brq
# api_extract comes with the benchmarks, which a build of the programs
# alone (a fresh checkout's) leaves out.
if ! grep -q '^KELVARIN_BUILD_BENCHMARKS:BOOL=ON' "$build_dir/CMakeCache.txt"; then
  cmake -S "$repo" -B "$build_dir" -DKELVARIN_BUILD_BENCHMARKS=ON >/dev/null
fi
build_targets api_extract
extractor="$build_dir/Kelvarin_Extract"
brq="$build_dir/brq"
api="$build_dir/bench/api_extract"

scratch="$(scratch_folder kelvarin-api-bench)"
mount_point=""
shm="$(shm_folder kelvarin-api-bench)"
trap remove_scratch EXIT

image_bytes=$((4 << 30))
if [ "$quick" = 1 ]; then image_bytes=$((256 << 20)); fi
image="${shm:-$scratch}/ext4.img"
targets=()
if [ "$target" != tmpfs ]; then
  if [ "$(id -u)" = 0 ] && command -v mkfs.ext4 >/dev/null &&
     mount_fresh_image ext4 "$scratch/ext4-probe" >/dev/null 2>&1; then
    release_image
    targets+=(ext4)
  else
    echo "ext4: needs root, mkfs.ext4 and a loop device: no ext4 timings"
  fi
fi
if [ "$target" != ext4 ] && [ -n "$shm" ]; then targets+=(tmpfs); fi
[ ${#targets[@]} -gt 0 ] || { echo "nowhere to extract to" >&2; exit 1; }

echo "Machine:     $(machine_summary) RAM"
echo "Kernel:      $(uname -sr)"
echo "Library:     $(ldd "$api" | awk '/libkelvarin/ { print $3 }' | xargs readlink -f)"
echo "Rounds:      $rounds$([ "$quick" = 1 ] && echo ', quick trees')"
echo "Load:        $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min) at start"
echo

# Runs a command, its standard output into OUT; prints "seconds peak_kib".
timed() {  # OUT command...
  local out="$1" start end
  shift
  start=$EPOCHREALTIME
  /usr/bin/time -f %M -o "$scratch/rss" "$@" >"$out"
  end=$EPOCHREALTIME
  echo "$(seconds_since "$start" "$end") $(tail -1 "$scratch/rss")"
}

# ---------------------------------------------------------- (a) extraction --
rows=()
bench_extraction() {  # kind where
  local kind="$1" where="$2" dir="$scratch/$1"
  declare -A times=() rss=()
  local round i tool out result tools=(program api)
  for ((round = -1; round < rounds; round++)); do
    for ((i = 0; i < 2; i++)); do
      tool=${tools[$(((i + round + 2) % 2))]}
      if [ "$round" = -1 ] && [ "$i" -gt 0 ]; then break; fi
      case "$where" in
        ext4) mount_fresh_image ext4 "$scratch/ext4" >/dev/null; out="$mount_point/out" ;;
        tmpfs) out="$shm/out" ;;
      esac
      mkdir "$out"
      sync
      case "$tool" in
        program) result=$(timed /dev/null "$extractor" e "$dir/tree.brq" "$out") ;;
        api) result=$(timed /dev/null "$api" extract "$dir/tree.brq" "$out") ;;
      esac
      if [ "$round" = 0 ] && ! diff -rq "$dir/src" "$out" >/dev/null; then
        echo "   $tool: the output on $where differs from the source tree" >&2
        exit 1
      fi
      if [ "$round" -ge 0 ]; then
        times[$tool]+="${result% *} "
        rss[$tool]+="${result#* } "
      fi
      case "$where" in
        ext4) release_image ;;
        tmpfs) rm -rf "$out" ;;
      esac
    done
  done
  local p a
  p=$(median "${times[program]}")
  a=$(median "${times[api]}")
  printf '   %-6s Kelvarin_Extract %.3f s (%s MiB), C API %.3f s (%s MiB): API / program = %s (per round %s)\n' \
    "$where" "$p" "$(mib "$(highest "${rss[program]}")")" "$a" "$(mib "$(highest "${rss[api]}")")" \
    "$(divide "$a" "$p")" "$(ratio_range "${times[api]}" "${times[program]}")"
  rows+=("$kind|$where|$p|$(highest "${rss[program]}")|$a|$(highest "${rss[api]}")")
}

for kind in "${selected[@]}"; do
  dir="$scratch/$kind"
  mkdir -p "$dir/src"
  generate_tree "$kind" "$dir/src" "$quick"
  "$brq" pack --no-progress "$dir/src" "$dir/tree.brq" >/dev/null
  echo "== $kind: $(find "$dir/src" -type f | wc -l) files," \
       "$(($(stat -c %s "$dir/tree.brq") >> 20)) MiB archive"
  cat "$dir/tree.brq" >/dev/null
  for where in "${targets[@]}"; do bench_extraction "$kind" "$where"; done
  [ "$keep" = 1 ] || rm -rf "$dir"
done

# -------------------------------------------------- (b) one file of many --
folders=1000
per_folder=$(((entries - folders) / folders))
if [ "$per_folder" -lt 1 ]; then per_folder=1; fi
big="${shm:-$scratch}/many"
mkdir -p "$big/src"
echo
echo "== $entries entries: $folders folders of $per_folder files of 64 bytes"
python3 - "$big/src" "$folders" "$per_folder" <<'PY'
import os, sys
root, folders, per_folder = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
for f in range(folders):
    folder = os.path.join(root, f"folder{f:04d}")
    os.mkdir(folder)
    for i in range(per_folder):
        with open(os.path.join(folder, f"file{i:04d}.dat"), "wb") as out:
            out.write(f"{f:04d}/{i:04d}".encode().ljust(64, b"."))
PY
wanted="folder$(printf %04d $((folders / 2)))/file$(printf %04d $((per_folder / 2))).dat"
declare -A made=()
start=$EPOCHREALTIME
"$brq" pack --no-progress "$big/src" "$big/tree.brq" >/dev/null
made[brq]=$(awk -v s="$start" -v e="$EPOCHREALTIME" 'BEGIN { printf "%.1f", e - s }')
start=$EPOCHREALTIME
(cd "$big/src" && zip -0 -r -q "$big/tree.zip" .)
made[zip]=$(awk -v s="$start" -v e="$EPOCHREALTIME" 'BEGIN { printf "%.1f", e - s }')
start=$EPOCHREALTIME
(cd "$big/src" && 7z a -mx0 -bd "$big/tree.7z" . >/dev/null)
made[7z]=$(awk -v s="$start" -v e="$EPOCHREALTIME" 'BEGIN { printf "%.1f", e - s }')
expected="$(cat "$big/src/$wanted")"
[ "$keep" = 1 ] || rm -rf "$big/src"
for format in brq zip 7z; do
  echo "   tree.$format: $(($(stat -c %s "$big/tree.$format") >> 20)) MiB, made in ${made[$format]} s"
  cat "$big/tree.$format" >/dev/null
done

declare -A times=() rss=()
readers=(api brq unzip 7z)
for ((round = 0; round < rounds; round++)); do
  for ((i = 0; i < ${#readers[@]}; i++)); do
    tool=${readers[$(((i + round) % ${#readers[@]}))]}
    case "$tool" in
      api) result=$(timed "$scratch/out" "$api" cat "$big/tree.brq" "$wanted") ;;
      brq) result=$(timed "$scratch/out" "$brq" cat "$big/tree.brq" "$wanted") ;;
      unzip) result=$(timed "$scratch/out" unzip -p "$big/tree.zip" "$wanted") ;;
      7z) result=$(timed "$scratch/out" 7z e -so "$big/tree.7z" "$wanted" 2>/dev/null) ;;
    esac
    if [ "$(cat "$scratch/out")" != "$expected" ]; then
      echo "   $tool read something else than $wanted" >&2
      exit 1
    fi
    times[$tool]+="${result% *} "
    rss[$tool]+="${result#* } "
  done
done
declare -A reader_label=([api]="api_extract cat (C API)" [brq]="brq cat" [unzip]="unzip -p" [7z]="7z e -so")
many_rows=()
for tool in "${readers[@]}"; do
  printf '   %-26s median %.3f s, min %.3f s, peak %s MiB\n' "${reader_label[$tool]}" \
    "$(median "${times[$tool]}")" "$(lowest "${times[$tool]}")" "$(mib "$(highest "${rss[$tool]}")")"
  many_rows+=("${reader_label[$tool]}|$(median "${times[$tool]}")|$(highest "${rss[$tool]}")")
done

# ---------------------------------------------------------------- tables --
echo
echo "Load:        $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min) at the end"
echo
echo "| tree | onto | Kelvarin_Extract s | peak MiB | C API s | peak MiB | API / program |"
echo "|---|---|---:|---:|---:|---:|---:|"
worst=0
for row in "${rows[@]}"; do
  IFS='|' read -r kind where p pm a am <<<"$row"
  printf '| %s | %s | %.3f | %s | %.3f | %s | %s |\n' "$kind" "$where" "$p" "$(mib "$pm")" "$a" \
    "$(mib "$am")" "$(divide "$a" "$p")"
  worst=$(awk -v w="$worst" -v r="$(divide "$a" "$p")" 'BEGIN { print (r > w) ? r : w }')
done
awk -v w="$worst" 'BEGIN { printf "\ntarget: the C API within 5 %% of Kelvarin_Extract ... %s (worst %.2f)\n",
                           (w <= 1.05) ? "met" : "MISSED", w }'
echo
echo "| $entries entries: one file read by | median s | peak MiB |"
echo "|---|---:|---:|"
for row in "${many_rows[@]}"; do
  IFS='|' read -r label m mem <<<"$row"
  printf '| %s | %.3f | %s |\n' "$label" "$m" "$(mib "$mem")"
done
