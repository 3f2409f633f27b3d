#!/usr/bin/env bash
# Extraction benchmark: Kelvarin_Extract with 1, 2 and 4 workers against
# GNU tar, bsdtar and cp -r; brq pack against tar -cf from a cold cache.
#
#   bench/run_benchmark.sh [--quick] [--rounds N] [--trees large,small,mixed,deep,real]
#                          [--target ext4|tmpfs|both] [--svg FILE|none]
#                          [--baseline EXECUTABLE] [--wait-for-quiet MINUTES] [--keep]
#
# Trees: large, 4 files of 256 MiB; small, 10,000 files of 1 KiB in 10
# folders; mixed, 10,000 files of log-normal sizes, median 16 KiB, in
# nested folders; deep, 10,000 files of 1 KiB eight folders down; real,
# copies of /usr/include, /usr/share/perl5 and /usr/lib/python3 (links
# followed, dangling and looping links dropped, names brq pack
# --allow-unportable refuses left out; its file count and size are printed
# when it is made). The generated trees come from fixed seeds; the real
# one is whatever this machine holds. Each is made once per run, packed
# with brq pack and into an uncompressed tar on the scratch folder, and
# read there with the page cache warm.
#
# Where the output goes (--target, default both):
#   ext4   a fresh ext4 made for every single run: a sparse image (4 GiB,
#          256 MiB with --quick) in /dev/shm, or on the scratch folder when
#          /dev/shm lacks room, loop-mounted. A fresh file system per run,
#          rather than one per tree, gives every tool the same empty,
#          unaged ext4: nothing is deleted between runs (a deletion leaves
#          freed inodes and blocks for the next run to work around, and on
#          ext4 without a journal a scan over them, see below), and one
#          image could not hold all of a tree's outputs anyway. Making and
#          mounting one takes about 0.05 s. Kept in memory, the image takes
#          the disk out: the time is ext4's own work.
#          Needs root, a loop device and mkfs.ext4; where one is missing the
#          script says so and writes to the scratch folder instead ("disk").
#   tmpfs  /dev/shm; each output is removed after its run.
# After one untimed run, every round runs each tool once, in an order that
# rotates from round to round, each into a fresh, empty folder after a sync. Kelvarin_Extract
# runs with KELVARIN_JOBS=1, 2 and 4 (a build that ignores the variable
# shows three equal figures). The script prints each tool's median time,
# Kelvarin_Extract's ratios to the faster of GNU tar and bsdtar (and to
# cp -r on the large tree) and the peak memory, for each tree and target.
# cp -r of the source tree is the kernel's own copy: a floor, not a peer.
# --baseline adds another Kelvarin_Extract (an older build, say) to the
# rotation, run as it is, so that two versions are timed side by side.
# Each tool's first output on each target is compared with the source.
#
# On the mixed and real trees, brq pack and tar -cf then write the tree as
# an archive (onto /dev/shm where there is one) with the page cache
# dropped before every run (as root; where it can't be dropped the script
# says so and the runs are warm).
#
# --svg FILE draws the medians as a bar chart with gnuplot (Debian's
# gnuplot-nox), one panel per target; by default docs/benchmarks.svg, and
# none with --quick. Without gnuplot the chart is skipped with a note.
#
# On the scratch folder (the fallback for ext4), trees of many files and
# their outputs stay until the end: on ext4 without a journal, every file
# created after thousands were deleted is slowed down by a scan over the
# deleted inodes for minutes, which would time this script's own clean-up
# instead of the tools (docs/benchmarks.md). The images made here have a
# journal, and are new for every run.
#
# --quick uses small trees (the real one cut at 1,000 files): a smoke check
# in well under a minute. --wait-for-quiet checks the load once a minute
# and starts when the 1-minute load is below 0.7, or after MINUTES whatever
# the load. Scratch data go to $BENCH_DIR (default /tmp) and are removed
# at the end (--keep leaves the trees and archives; outputs on ext4 and
# tmpfs go after each run).
# The build is taken from $KELVARIN_BUILD_DIR (default build/), made first
# when it is missing. KELVARIN_JOBS from the caller's environment is
# ignored: every run sets its own.
set -euo pipefail

# repo and build_dir, and the options, build, trees, fresh file systems,
# statistics and chart frame the benchmarks share.
. "$(dirname "$0")/bench_lib.sh"
rounds=5
wait_minutes=0
trees="large,small,mixed,deep,real"
target=both
baseline=""

# The options of this benchmark alone, each with its value.
own_option() {  # option value
  case "$1" in
    --trees) trees="$2" ;;
    --target) target="$2" ;;
    --baseline) baseline="$(realpath "$2")" ;;
    --wait-for-quiet) wait_minutes="$2" ;;
    *) taken=0 ;;
  esac
}
take_options "--quick --rounds --svg --keep" own_option "$@"
quick_rounds 3
check_choice target "$target" ext4 tmpfs both
select_trees "$trees" large small mixed deep real
chart_file "$repo/docs/benchmarks.svg"
unset KELVARIN_JOBS

# ---------------------------------------------------------------- tools --
need_packages=()
command -v bsdtar >/dev/null || need_packages+=(libarchive-tools)
[ -x /usr/bin/time ] || need_packages+=(time)
command -v python3 >/dev/null || need_packages+=(python3)
install_packages "${need_packages[@]}" || exit 1

build_targets Kelvarin_Extract brq
extractor="$build_dir/Kelvarin_Extract"
brq="$build_dir/brq"

scratch="$(scratch_folder kelvarin-bench)"
shm=""          # this run's folder on /dev/shm, when there is one
mount_point=""  # the ext4 image mounted now, if any
trap remove_scratch EXIT

wait_for_quiet "$wait_minutes"

# -------------------------------------------------------------- targets --
shm="$(shm_folder kelvarin-bench)"
image_bytes=$((4 << 30))
if [ "$quick" = 1 ]; then image_bytes=$((256 << 20)); fi
image_dir="$scratch"
if [ -n "$shm" ] && [ "$(free_kib /dev/shm)" -gt $((image_bytes / 1024)) ]; then
  image_dir="$shm"
fi
image="$image_dir/ext4.img"

mount_fresh_ext4() { mount_fresh_image ext4 "$1"; }  # mount_point
release_ext4() { release_image; }

targets=()
if [ "$target" != tmpfs ]; then
  why_not=""
  if [ "$(id -u)" != 0 ]; then
    why_not="not root"
  elif ! command -v mkfs.ext4 >/dev/null; then
    why_not="no mkfs.ext4"
  elif ! mount_fresh_ext4 "$scratch/ext4-probe" >/dev/null 2>&1; then
    why_not="no loop device could be mounted"
  fi
  if [ -z "$why_not" ]; then
    release_ext4
    targets+=(ext4)
  else
    echo "ext4: $why_not, so outputs go to the scratch folder $scratch instead"
    targets+=(disk)
  fi
fi
if [ "$target" != ext4 ]; then
  if [ -n "$shm" ]; then
    targets+=(tmpfs)
  else
    echo "tmpfs: no writable /dev/shm, so no tmpfs timings"
    if [ "$target" = tmpfs ]; then targets+=(disk); fi
  fi
fi
declare -A target_text=([ext4]="a fresh ext4 for each run" [tmpfs]="tmpfs (/dev/shm)"
                        [disk]="the scratch folder")

can_drop=0
if [ -w /proc/sys/vm/drop_caches ] && sync && echo 3 >/proc/sys/vm/drop_caches 2>/dev/null; then
  can_drop=1
fi

# -------------------------------------------------------------- machine --
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
echo "Machine:     $(machine_summary) RAM"
echo "Kernel:      $(uname -sr)"
echo "Scratch:     $scratch ($fs_type${fs_options:+, $fs_options}): trees and archives"
for where in "${targets[@]}"; do
  case "$where" in
    ext4) echo "Output:      ext4 made anew for every run, $((image_bytes >> 20)) MiB image in $image_dir" \
               "(mkfs.ext4 $(mkfs.ext4 -V 2>&1 | head -1 | cut -d' ' -f2), journal), loop-mounted" ;;
    tmpfs) echo "Output:      tmpfs, $shm" ;;
    disk) echo "Output:      the scratch folder" ;;
  esac
done
echo "Tools:       $(tar --version | head -1); $(bsdtar --version | cut -d' ' -f1-2);" \
     "$(cp --version | head -1)"
echo "Rounds:      $rounds per tree and target$([ "$quick" = 1 ] && echo ', quick trees')"
echo "Load:        $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min) at start"
echo

# --------------------------------------------------------------- timing --
# Runs one tool into the fresh, empty folder `out`; prints "seconds peak_kib".
run_once() {  # tool tree_dir out
  local tool="$1" dir="$2" out="$3" start end
  mkdir "$out"
  sync
  start=$EPOCHREALTIME
  case "$tool" in
    k[0-9]*) KELVARIN_JOBS="${tool#k}" /usr/bin/time -f %M -o "$dir/rss" \
               "$extractor" e "$dir/tree.brq" "$out" >/dev/null ;;
    baseline) /usr/bin/time -f %M -o "$dir/rss" "$baseline" e "$dir/tree.brq" "$out" >/dev/null ;;
    tar) /usr/bin/time -f %M -o "$dir/rss" tar -xf "$dir/tree.tar" -C "$out" ;;
    bsdtar) /usr/bin/time -f %M -o "$dir/rss" bsdtar -xf "$dir/tree.tar" -C "$out" ;;
    cp) /usr/bin/time -f %M -o "$dir/rss" cp -r "$dir/src/." "$out" ;;
  esac
  end=$EPOCHREALTIME
  echo "$(seconds_since "$start" "$end") $(tail -1 "$dir/rss")"
}

workers=(1 2 4)
tools=(k1 k2 k4 tar bsdtar cp)
declare -A label=([k1]="Kelvarin_Extract, 1 worker" [k2]="Kelvarin_Extract, 2 workers"
                  [k4]="Kelvarin_Extract, 4 workers" [baseline]="baseline" [tar]="GNU tar -xf"
                  [bsdtar]="bsdtar -xf" [cp]="cp -r (floor)")
if [ -n "$baseline" ]; then
  tools=(k1 k2 k4 baseline tar bsdtar cp)
  label[baseline]="baseline ($(basename "$(dirname "$baseline")"))"
fi
summary=()        # tree|target|tool|median|min|max|peak KiB
worker_rows=()    # tree|target|1 worker|2|4|faster tar's label|its median
pack_rows=()      # tree|pack median|tar median|per round|pack peak KiB|cold or warm

# Times every tool on one tree, writing onto one target.
bench_target() {  # kind where
  local kind="$1" where="$2" dir="$scratch/$1"
  echo "-- $kind onto ${target_text[$where]}"
  # Outputs of many files on the scratch folder are kept until the end
  # where the disk has room for all of them (see the top of this file).
  local keep_outputs=0
  if [ "$where" = disk ] && [ "$(find "$dir/src" -type f | wc -l)" -ge 1000 ]; then
    local avail_kib used_kib
    avail_kib=$(free_kib "$dir")
    used_kib=$(du -sk "$dir/src" | cut -f1)
    if [ "$avail_kib" -gt $((used_kib * (rounds * ${#tools[@]} + 2))) ]; then
      keep_outputs=1
    else
      echo "   (not enough space to keep the outputs: each is removed after its run)"
    fi
  fi

  declare -A times=() rss=() med=()
  local round i tool result out
  # One untimed run first: the first run after the large tree was made
  # took ten times as long as the later ones (onto ext4, 2.4-2.6 s
  # against 0.2-0.3 s).
  for ((round = -1; round < rounds; round++)); do
    local line="   round $((round + 1)):"
    if [ "$round" = -1 ]; then line="   warm-up:"; fi
    for ((i = 0; i < ${#tools[@]}; i++)); do
      tool=${tools[$(((i + round + 1) % ${#tools[@]}))]}
      if [ "$round" = -1 ] && [ "$i" -gt 0 ]; then break; fi
      case "$where" in
        ext4) mount_fresh_ext4 "$scratch/ext4" >/dev/null; out="$mount_point/out" ;;
        tmpfs) out="$shm/$kind-$round-$tool" ;;
        disk) out="$dir/out-$round-$tool" ;;
      esac
      result=$(run_once "$tool" "$dir" "$out")
      if [ "$round" = -1 ]; then
        line+=" $tool ${result% *}s (not counted)"
      else
        times[$tool]+="${result% *} "
        rss[$tool]+="${result#* } "
        line+=" $tool ${result% *}s"
      fi
      if [ "$round" = 0 ] && ! diff -rq "$dir/src" "$out" >/dev/null; then
        echo "   $tool: the output on $where differs from the source tree" >&2
        exit 1
      fi
      case "$where" in
        ext4) release_ext4 ;;
        tmpfs) rm -rf "$out" ;;
        disk) [ "$keep_outputs" = 1 ] || rm -rf "$out" ;;
      esac
    done
    echo "$line"
  done

  echo
  printf '   %-28s %10s %10s %10s %10s\n' "tool" "median s" "min s" "max s" "peak MiB"
  for tool in "${tools[@]}"; do
    med[$tool]=$(median "${times[$tool]}")
    local lo hi mem
    lo=$(lowest "${times[$tool]}")
    hi=$(highest "${times[$tool]}")
    mem=$(highest "${rss[$tool]}")
    printf '   %-28s %10.3f %10.3f %10.3f %10s\n' "${label[$tool]}" "${med[$tool]}" "$lo" "$hi" "$(mib "$mem")"
    summary+=("$kind|$where|$tool|${med[$tool]}|$lo|$hi|$mem")
  done
  echo

  # Ratios of medians, and in brackets the same ratio taken round by round.
  local tar_tool=tar
  if awk -v t="${med[tar]}" -v b="${med[bsdtar]}" 'BEGIN { exit !(b < t) }'; then tar_tool=bsdtar; fi
  local n w best=""
  for n in "${workers[@]}"; do
    w="$n worker$([ "$n" = 1 ] || echo s)"
    printf '   %-40s = %5s   (per round %s)\n' "$w / faster tar (${label[$tar_tool]})" \
      "$(divide "${med[k$n]}" "${med[$tar_tool]}")" "$(ratio_range "${times[k$n]}" "${times[$tar_tool]}")"
    if [ "$kind" = large ]; then
      printf '   %-40s = %5s   (per round %s)\n' "$w / cp -r" \
        "$(divide "${med[k$n]}" "${med[cp]}")" "$(ratio_range "${times[k$n]}" "${times[cp]}")"
    fi
    if [ -n "$baseline" ]; then
      printf '   %-40s = %5s   (per round %s)\n' "$w / baseline" \
        "$(divide "${med[k$n]}" "${med[baseline]}")" "$(ratio_range "${times[k$n]}" "${times[baseline]}")"
    fi
    if [ -z "$best" ] || awk -v a="${med[k$n]}" -v b="${med[k$best]}" 'BEGIN { exit !(a < b) }'; then
      best=$n
    fi
  done
  worker_rows+=("$kind|$where|${med[k1]}|${med[k2]}|${med[k4]}|${label[$tar_tool]}|${med[$tar_tool]}")

  # The targets, judged on the fastest of the worker counts.
  local peak=0
  for n in "${workers[@]}"; do
    mem=$(highest "${rss[k$n]}")
    if [ "$mem" -gt "$peak" ]; then peak=$mem; fi
  done
  awk -v kind="$kind" -v n="$best" -v k="${med[k$best]}" -v c="${med[cp]}" -v t="${med[tar]}" \
      -v best="${med[$tar_tool]}" -v m="$peak" 'BEGIN {
    w = (n == 1) ? "1 worker" : n " workers"
    if (kind == "large") {
      printf "   target: at most cp -r\x27s time ................ %s (%.2f, %s)\n", (k <= c) ? "met" : "MISSED", k / c, w
    } else if (kind == "deep") {
      printf "   target: no slower than the faster tar ......... %s (%.2f, %s)\n", (k <= best) ? "met" : "MISSED", k / best, w
    } else {
      printf "   target: twice as fast as the faster tar ....... %s (%.2f, %s)\n", (k <= 0.5 * best) ? "met" : "MISSED", k / best, w
    }
    printf "   target: peak memory at most 16 MiB ............ %s (%.1f MiB, any worker count)\n", (m <= 16384) ? "met" : "MISSED", m / 1024 }'
  echo
}

# brq pack against tar -cf, reading the tree from a cold page cache.
bench_pack() {  # kind
  local kind="$1" dir="$scratch/$1" out_dir="${shm:-$scratch/$1}"
  local pack_flags=()
  if [ "$kind" = real ]; then pack_flags=(--allow-unportable); fi
  echo "-- $kind: brq pack against tar -cf, $([ "$can_drop" = 1 ] &&
        echo "page cache dropped before each run" ||
        echo "WARM: the page cache can't be dropped here (needs root)"), archive onto $out_dir"
  declare -A times=() rss=()
  local round i tool start end out
  local order=(pack tar)
  for ((round = 0; round < rounds; round++)); do
    local line="   round $((round + 1)):"
    for ((i = 0; i < 2; i++)); do
      tool=${order[$(((i + round) % 2))]}
      out="$out_dir/$kind-packed-$round.$tool"
      sync
      [ "$can_drop" = 0 ] || echo 3 >/proc/sys/vm/drop_caches
      start=$EPOCHREALTIME
      case "$tool" in
        pack) /usr/bin/time -f %M -o "$dir/rss" "$brq" pack --no-progress "${pack_flags[@]}" \
                "$dir/src" "$out" >/dev/null ;;
        tar) /usr/bin/time -f %M -o "$dir/rss" tar -cf "$out" --sort=name -C "$dir/src" . ;;
      esac
      end=$EPOCHREALTIME
      times[$tool]+="$(seconds_since "$start" "$end") "
      rss[$tool]+="$(tail -1 "$dir/rss") "
      line+=" $tool $(values "${times[$tool]}" | tail -1)s"
      # Each writes the same bytes as the archive the extraction read.
      if [ "$round" = 0 ] && ! cmp -s "$out" "$dir/tree.$([ "$tool" = pack ] && echo brq || echo tar)"; then
        echo "   $tool: its archive differs from the one made before" >&2
        exit 1
      fi
      rm -f "$out"
    done
    echo "$line"
  done
  local pack_med tar_med per_round
  pack_med=$(median "${times[pack]}")
  tar_med=$(median "${times[tar]}")
  per_round=$(ratio_range "${times[pack]}" "${times[tar]}")
  printf '   brq pack %.3f s (peak %s MiB), tar -cf %.3f s (peak %s MiB): pack / tar = %s (per round %s)\n' \
    "$pack_med" "$(mib "$(highest "${rss[pack]}")")" "$tar_med" "$(mib "$(highest "${rss[tar]}")")" \
    "$(divide "$pack_med" "$tar_med")" "$per_round"
  awk -v p="$pack_med" -v t="$tar_med" 'BEGIN {
    printf "   target: at most two thirds of tar -cf ......... %s (%.2f)\n", (p <= t * 2 / 3) ? "met" : "MISSED", p / t }'
  pack_rows+=("$kind|$pack_med|$tar_med|$per_round|$(highest "${rss[pack]}")|$([ "$can_drop" = 1 ] && echo cold || echo warm)")
  echo
}

bench_tree() {  # kind
  local kind="$1" dir="$scratch/$1"
  mkdir -p "$dir/src"
  echo "== $kind: making the tree"
  if [ "$kind" = real ]; then
    copy_real_tree "$dir/src" "$quick"
    "$brq" pack --no-progress --allow-unportable "$dir/src" "$dir/tree.brq" >/dev/null
  else
    generate_tree "$kind" "$dir/src" "$quick"
    "$brq" pack --no-progress "$dir/src" "$dir/tree.brq" >/dev/null
  fi
  tar -cf "$dir/tree.tar" --sort=name -C "$dir/src" .
  local files folders bytes
  files=$(find "$dir/src" -type f | wc -l)
  folders=$(find "$dir/src" -mindepth 1 -type d | wc -l)
  bytes=$(du -sb --apparent-size "$dir/src" | cut -f1)
  echo "   $files files in $folders folders, $((bytes / 1024 / 1024)) MiB;" \
       "archive $(($(stat -c %s "$dir/tree.brq") / 1024 / 1024)) MiB," \
       "tar $(($(stat -c %s "$dir/tree.tar") / 1024 / 1024)) MiB"
  # Inputs in the page cache before the first timed run, as for later ones.
  cat "$dir/tree.brq" "$dir/tree.tar" >/dev/null
  find "$dir/src" -type f -exec cat {} + >/dev/null
  echo

  local where
  for where in "${targets[@]}"; do bench_target "$kind" "$where"; done
  case "$kind" in mixed|real) bench_pack "$kind" ;; esac
}

for kind in "${selected[@]}"; do bench_tree "$kind"; done

echo "Load:        $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min) at the end"
echo
times_table tree onto "${summary[@]}"
echo
echo "Kelvarin_Extract's workers, medians in seconds; in brackets, over the faster tar's:"
echo
echo "| tree | onto | 1 worker | 2 workers | 4 workers | faster tar |"
echo "|---|---|---:|---:|---:|---:|"
for row in "${worker_rows[@]}"; do
  IFS='|' read -r kind where w1 w2 w4 tar_label tar_med <<<"$row"
  printf '| %s | %s | %.3f (%s) | %.3f (%s) | %.3f (%s) | %.3f (%s) |\n' "$kind" "$where" \
    "$w1" "$(divide "$w1" "$tar_med")" "$w2" "$(divide "$w2" "$tar_med")" \
    "$w4" "$(divide "$w4" "$tar_med")" "$tar_med" "$tar_label"
done
if [ ${#pack_rows[@]} -gt 0 ]; then
  echo
  echo "| tree | brq pack s | tar -cf s | pack / tar (per round) | pack peak MiB | cache |"
  echo "|---|---:|---:|---|---:|---|"
  for row in "${pack_rows[@]}"; do
    IFS='|' read -r kind p t range mem cache <<<"$row"
    printf '| %s | %.3f | %.3f | %s (%s) | %s | %s |\n' "$kind" "$p" "$t" "$(divide "$p" "$t")" "$range" \
      "$(mib "$mem")" "$cache"
  done
fi

# ---------------------------------------------------------------- chart --
chart_wanted || exit 0
# One data file per target: a row per tree, a column per tool. A panel's
# scale stops at 1.3 times the slowest tool but cp -r (the last column,
# far slower on many small files here); a bar cut there is labelled with
# its time.
declare -A panel_top=()
plot_files=()
for where in "${targets[@]}"; do
  data="$scratch/chart-$where.dat"
  chart_data tree "%s|$where|%s" "${selected[*]}" "${tools[*]}" "${summary[@]}" >"$data"
  panel_top[$where]=$(awk 'NR > 1 { for (i = 2; i < NF; i++) if ($i + 0 > top) top = $i + 0 } END { print 1.3 * top }' "$data")
  plot_files+=("$where|$data")
done
last=$((${#tools[@]} + 1))
# Kelvarin_Extract in blues, the baseline in purple, the peers apart.
colours=()
for tool in "${tools[@]}"; do
  case "$tool" in
    k1) colours+=("#9ecae1") ;; k2) colours+=("#4292c6") ;; k4) colours+=("#08519c") ;;
    baseline) colours+=("#8c6bb1") ;; tar) colours+=("#fd8d3c") ;; bsdtar) colours+=("#74c476") ;;
    cp) colours+=("#969696") ;;
  esac
done
{
  chart_preamble ${#targets[@]} \
    "Extraction time, median of $rounds round$([ "$rounds" = 1 ] || echo s) (less is better)" seconds "${colours[@]}"
  for entry in "${plot_files[@]}"; do
    where="${entry%%|*}"
    data="${entry#*|}"
    echo "top = ${panel_top[$where]}"
    echo "set yrange [0:top]"
    echo "set title 'onto ${target_text[$where]}' noenhanced"
    # Bar c of a tree's group stands (c - 2 - (K - 1) / 2) / (K + gap) from
    # the group's middle.
    echo "plot for [c=2:$last] '$data' using c:xtic(1) title columnheader(c), \\"
    echo "     for [c=2:$last] '$data' using (\$0 + (c - 2 - ($last - 2) / 2.0) / $last):" \
         "(column(c) > top ? top : 1/0):(sprintf('%.2f', column(c))) with labels offset 0,-0.8 font ',10' notitle"
    echo "unset key"
  done
} | draw_chart
