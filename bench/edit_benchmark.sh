#!/usr/bin/env bash
# Edit benchmark: changing an archive of about 1 GiB in place with brq's
# edit commands, against a full brq pack of the changed tree, zip (stored),
# 7-Zip (copy) and tar, on a fresh ext4 and a fresh XFS with reflink.
#
#   bench/edit_benchmark.sh [--quick] [--rounds N] [--target ext4|xfs|both] [--svg FILE|none] [--keep]
#
# The tree: the real tree of run_benchmark.sh (copies of /usr/include,
# /usr/share/perl5 and /usr/lib/python3), large files of 64 MiB added until
# it holds 1 GiB, and a folder edit/ with the files the edits touch. It is
# made once, as tree.brq (brq pack --allow-unportable), tree.zip (zip -0),
# tree.7z (7z -mx0) and tree.tar on the scratch folder. The edits:
#   replace  one 1 KiB file replaced by another of 1 KiB (edit/one.dat)
#   add      100 new files of 1 to 16 KiB in a new folder (new/)
#   remove   one file (edit/gone.dat)
#   rename   a folder of 200 files (edit/folder -> edit/renamed)
# each done by:
#   brq      brq add ARCHIVE -C CHANGES PATH, brq rm, brq mv (skipped, with a
#            note, where this build of brq has no such command)
#   pack     brq pack of the changed tree over the archive, the whole of it
#   zip      zip -0 (replace, add), zip -d (remove), zipnote -w (rename)
#   7z       7z a -mx0 (replace, add), 7z d (remove), 7z rn (rename)
#   tar      tar -r (replace: the later member wins, add), tar --delete
#            (remove); nothing renames a member in place
# Every run gets a file system made for it alone (a sparse image, 4 GiB or
# 512 MiB with --quick, in /dev/shm where it has room, loop-mounted), the
# tool's archive copied onto it untimed and synced; then the edit alone is
# timed, with its peak memory (/usr/bin/time -f %M). Rounds interleave the
# tools in an order that rotates from round to round; the script prints
# each tool's median, minimum, maximum and peak memory, and the ratios the
# goals are about: brq's edit over the faster of zip and 7z, and on XFS
# brq's replace over a full brq pack. In the first round, brq's and pack's
# archives are compared with the changed tree (brq diff).
#
# --svg FILE draws the medians with gnuplot, a panel per file system on a
# logarithmic scale: docs/edit_benchmark.svg by default, none with --quick.
#
# Needs root (loop devices, mkfs) and installs zip, p7zip-full, xfsprogs
# and time when missing (after apt-get update). A target that can't be
# made is skipped with a note. --quick cuts the real tree at 1,000 files
# and makes the large files 4 MiB: a smoke check of a few minutes.
# Scratch data go to $BENCH_DIR (default /tmp) and are removed at the end
# unless --keep. The build is taken from $KELVARIN_BUILD_DIR (default
# build/), made first when it is missing.
set -euo pipefail

# repo and build_dir, and what the benchmarks share.
. "$(dirname "$0")/bench_lib.sh"
rounds=5
target=both

# The options of this benchmark alone, each with its value.
own_option() {  # option value
  case "$1" in
    --target) target="$2" ;;
    *) taken=0 ;;
  esac
}
take_options "--quick --rounds --svg --keep" own_option "$@"
quick_rounds 1
chart_file "$repo/docs/edit_benchmark.svg"
check_choice target "$target" ext4 xfs both
file_systems=("$target")
if [ "$target" = both ]; then file_systems=(ext4 xfs); fi

# ---------------------------------------------------------------- tools --
need_packages=()
command -v zip >/dev/null && command -v zipnote >/dev/null || need_packages+=(zip)
command -v 7z >/dev/null || command -v 7zz >/dev/null || need_packages+=(p7zip-full)
command -v mkfs.xfs >/dev/null || need_packages+=(xfsprogs)
[ -x /usr/bin/time ] || need_packages+=(time)
command -v python3 >/dev/null || need_packages+=(python3)
install_packages "${need_packages[@]}" || exit 1
seven=7z
command -v 7z >/dev/null || seven=7zz

build_targets brq
brq="$build_dir/brq"

scratch="$(scratch_folder kelvarin-edit-bench)"
mount_point=""
image=""
trap remove_scratch EXIT

image_bytes=$((4 << 30))
if [ "$quick" = 1 ]; then image_bytes=$((512 << 20)); fi
image_dir="$scratch"
if [ -d /dev/shm ] && [ -w /dev/shm ] &&
   [ "$(free_kib /dev/shm)" -gt $((image_bytes / 1024)) ]; then
  image_dir=/dev/shm
fi
image="$(mktemp -u "$image_dir/kelvarin-edit-bench.XXXXXX.img")"

targets=()
for fs in "${file_systems[@]}"; do
  if [ "$(id -u)" != 0 ]; then
    echo "$fs: not root, so it can't be made and mounted: skipped"
  elif ! command -v "mkfs.$fs" >/dev/null; then
    echo "$fs: no mkfs.$fs: skipped"
  elif ! mount_fresh_image "$fs" "$scratch/probe" >/dev/null 2>&1; then
    echo "$fs: no loop device could be mounted: skipped"
  else
    release_image
    targets+=("$fs")
  fi
done
if [ ${#targets[@]} = 0 ]; then
  echo "no file system to run on" >&2
  exit 1
fi

# Which edit commands this brq has: the others are skipped with a note.
declare -A has_edit=()
for command in add rm mv; do
  if "$brq" "$command" --help >/dev/null 2>&1; then has_edit[$command]=1; else has_edit[$command]=0; fi
done

echo "Machine:     $(machine_summary) RAM"
echo "Kernel:      $(uname -sr)"
echo "Output:      ${targets[*]} made anew for every run, $((image_bytes >> 20)) MiB image in $image_dir," \
     "loop-mounted (xfs: mkfs.xfs -m reflink=1)"
echo "Tools:       $("$brq" --version | head -1); $(zip -v | sed -n 2p | awk '{ print $3, $4 }');" \
     "$("$seven" | sed -n 2p | cut -d' ' -f1-3); $(tar --version | head -1)"
for command in add rm mv; do
  [ "${has_edit[$command]}" = 1 ] || echo "Note:        this brq has no '$command': its edits are skipped"
done
echo "Rounds:      $rounds$([ "$quick" = 1 ] && echo ', quick tree')"
echo "Load:        $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min) at start"
echo

# ------------------------------------------------------------- the tree --
src="$scratch/src"
changes="$scratch/changes"
mkdir -p "$src" "$changes"
echo "== making the tree"
copy_real_tree "$src" "$quick"
# The large files up to 1 GiB, the files the edits touch, and the changes.
generate_tree edit "$src" "$quick" "$changes"
# The tree after each edit, made of links to the source's files.
for edit in replace add remove rename; do cp -al "$src" "$scratch/after-$edit"; done
rm "$scratch/after-replace/edit/one.dat"
cp "$changes/edit/one.dat" "$scratch/after-replace/edit/one.dat"
cp -r "$changes/new" "$scratch/after-add/new"
rm "$scratch/after-remove/edit/gone.dat"
mv "$scratch/after-rename/edit/folder" "$scratch/after-rename/edit/renamed"

"$brq" pack --no-progress --allow-unportable "$src" "$scratch/tree.brq" >/dev/null
(cd "$src" && zip -0 -r -q -X "$scratch/tree.zip" .)
(cd "$src" && "$seven" a -mx0 -bd "$scratch/tree.7z" . >/dev/null)
tar -cf "$scratch/tree.tar" --sort=name -C "$src" .
# The tree and its four archives are gigabytes the kernel would still be
# writing out while the first edits are timed: written out first.
sync
archive_mib=$(($(stat -c %s "$scratch/tree.brq") >> 20))
echo "   $(find "$src" -type f | wc -l) files in $(find "$src" -mindepth 1 -type d | wc -l) folders," \
     "$(($(du -sb --apparent-size "$src" | cut -f1) >> 20)) MiB; archives (MiB): brq" \
     "$(($(stat -c %s "$scratch/tree.brq") >> 20)), zip $(($(stat -c %s "$scratch/tree.zip") >> 20))," \
     "7z $(($(stat -c %s "$scratch/tree.7z") >> 20)), tar $(($(stat -c %s "$scratch/tree.tar") >> 20))"
echo

# --------------------------------------------------------------- timing --
# Each edit by each tool, as a command run by bash with A the archive, C
# the folder of changes and T the changed tree.
declare -A edit_command=(
  [replace,brq]='"$B" add -q "$A" -C "$C" edit/one.dat'
  [replace,zip]='cd "$C" && zip -0 -q -X "$A" edit/one.dat'
  [replace,7z]='cd "$C" && "$S" a -mx0 -bd "$A" edit/one.dat >/dev/null'
  [replace,tar]='tar -rf "$A" -C "$C" ./edit/one.dat'
  [add,brq]='"$B" add -q "$A" -C "$C" new'
  [add,zip]='cd "$C" && zip -0 -r -q -X "$A" new'
  [add,7z]='cd "$C" && "$S" a -mx0 -bd "$A" new >/dev/null'
  [add,tar]='tar -rf "$A" -C "$C" ./new'
  [remove,brq]='"$B" rm -q "$A" edit/gone.dat'
  [remove,zip]='zip -d -q "$A" edit/gone.dat'
  [remove,7z]='"$S" d -bd "$A" edit/gone.dat >/dev/null'
  [remove,tar]='tar --delete -f "$A" ./edit/gone.dat'
  [rename,brq]='"$B" mv -q "$A" edit/folder edit/renamed'
  [rename,zip]='zipnote "$A" | sed "s|^\(@ edit/folder\)\(/.*\)\?$|&\n@=edit/renamed\2|" | zipnote -w "$A"'
  [rename,7z]='"$S" rn -bd "$A" edit/folder edit/renamed >/dev/null'
)
declare -A edit_brq=([replace]=add [add]=add [remove]=rm [rename]=mv)
declare -A extension=([brq]=brq [pack]=brq [zip]=zip [7z]=7z [tar]=tar)
declare -A label=([brq]="brq add/rm/mv" [pack]="brq pack, whole" [zip]="zip -0" [7z]="7z -mx0" [tar]="tar -r/--delete")
edits=(replace add remove rename)
rows=()  # fs|edit|tool|median|min|max|peak KiB

# The tools that do `edit` here.
tools_for() {  # edit
  local tools=() tool
  [ "${has_edit[${edit_brq[$1]}]}" = 0 ] || tools+=(brq)
  tools+=(pack zip 7z)
  [ -z "${edit_command[$1,tar]:-}" ] || tools+=(tar)
  echo "${tools[@]}"
}

# One edit by one tool on a file system made for it; sets result to
# "seconds peak_kib". Not run in a subshell, so that the clean-up at exit
# finds the file system it mounted.
run_once() {  # fs edit tool check
  local fs="$1" edit="$2" tool="$3" check="$4" archive command start end
  mount_fresh_image "$fs" "$scratch/mnt" >/dev/null
  archive="$mount_point/tree.${extension[$tool]}"
  cp "$scratch/tree.${extension[$tool]}" "$archive"
  sync
  if [ "$tool" = pack ]; then
    command='"$B" pack --no-progress --allow-unportable "$T" "$A" >/dev/null'
  else
    command="${edit_command[$edit,$tool]}"
  fi
  start=$EPOCHREALTIME
  if ! A="$archive" C="$changes" T="$scratch/after-$edit" B="$brq" S="$seven" \
       /usr/bin/time -f %M -o "$scratch/rss" bash -c "$command" >"$scratch/output" 2>&1; then
    echo "   $tool, $edit on $fs failed:" >&2
    sed 's/^/   /' "$scratch/output" >&2
    exit 1
  fi
  end=$EPOCHREALTIME
  if [ "$check" = 1 ] && { [ "$tool" = brq ] || [ "$tool" = pack ]; } &&
     ! "$brq" diff "$archive" "$scratch/after-$edit" >"$scratch/output" 2>&1; then
    echo "   $tool, $edit on $fs: the archive doesn't hold the changed tree:" >&2
    head -5 "$scratch/output" | sed 's/^/   /' >&2
    exit 1
  fi
  release_image
  result="$(seconds_since "$start" "$end") $(tail -1 "$scratch/rss")"
}

bench_edit() {  # fs edit
  local fs="$1" edit="$2" round i tool
  local tools
  read -r -a tools <<<"$(tools_for "$edit")"
  echo "-- $edit on $fs"
  declare -A times=() rss=() med=()
  for ((round = 0; round < rounds; round++)); do
    local line="   round $((round + 1)):"
    for ((i = 0; i < ${#tools[@]}; i++)); do
      tool=${tools[$(((i + round) % ${#tools[@]}))]}
      run_once "$fs" "$edit" "$tool" "$([ "$round" = 0 ] && echo 1 || echo 0)"
      times[$tool]+="${result% *} "
      rss[$tool]+="${result#* } "
      line+=" $tool ${result% *}s"
    done
    echo "$line"
  done
  printf '   %-20s %10s %10s %10s %10s\n' "tool" "median s" "min s" "max s" "peak MiB"
  for tool in "${tools[@]}"; do
    med[$tool]=$(median "${times[$tool]}")
    printf '   %-20s %10.3f %10.3f %10.3f %10s\n' "${label[$tool]}" "${med[$tool]}" "$(lowest "${times[$tool]}")" \
      "$(highest "${times[$tool]}")" "$(mib "$(highest "${rss[$tool]}")")"
    rows+=("$fs|$edit|$tool|${med[$tool]}|$(lowest "${times[$tool]}")|$(highest "${times[$tool]}")|$(highest "${rss[$tool]}")")
  done
  if [ -z "${med[brq]:-}" ]; then
    echo "   (brq ${edit_brq[$edit]}: not in this build)"
  else
    local faster=zip
    if awk -v z="${med[zip]}" -v s="${med[7z]}" 'BEGIN { exit !(s < z) }'; then faster=7z; fi
    awk -v b="${med[brq]}" -v f="${med[$faster]}" -v name="${label[$faster]}" -v fs="$fs" 'BEGIN {
      printf "   brq / faster of zip and 7z (%s) = %.3f", name, b / f
      if (fs == "ext4") printf "   goal at most 0.5: %s", (b <= 0.5 * f) ? "met" : "MISSED"
      printf "\n" }'
    if [ "$edit" = replace ]; then
      awk -v b="${med[brq]}" -v p="${med[pack]}" -v fs="$fs" 'BEGIN {
        printf "   brq / full brq pack = %.3f", b / p
        if (fs == "xfs") printf "   goal at most 0.05: %s", (b <= 0.05 * p) ? "met" : "MISSED"
        printf "\n" }'
    fi
  fi
  echo
}

for fs in "${targets[@]}"; do
  for edit in "${edits[@]}"; do bench_edit "$fs" "$edit"; done
done

echo "Load:        $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min) at the end"
echo
times_table onto edit "${rows[@]}"

# ---------------------------------------------------------------- chart --
chart_wanted || exit 0
# One data file per file system: a row per edit, a column per tool (tar's
# missing rename is a gap).
chart_tools=(brq pack zip 7z tar)
plot_files=()
for fs in "${targets[@]}"; do
  data="$scratch/chart-$fs.dat"
  chart_data edit "$fs|%s|%s" "${edits[*]}" "${chart_tools[*]}" "${rows[@]}" >"$data"
  plot_files+=("$fs|$data")
done
last=$((${#chart_tools[@]} + 1))
{
  chart_preamble ${#targets[@]} \
    "Editing an archive of $archive_mib MiB, median of $rounds round$([ "$rounds" = 1 ] || echo s) (less is better)" \
    "seconds (log scale)" "#08519c" "#9ecae1" "#fd8d3c" "#74c476" "#969696"
  echo "set datafile missing '?'"
  echo "set logscale y"
  for entry in "${plot_files[@]}"; do
    echo "set title 'onto a fresh ${entry%%|*}' noenhanced"
    echo "plot for [c=2:$last] '${entry#*|}' using c:xtic(1) title columnheader(c)"
    echo "unset key"
  done
} | draw_chart
