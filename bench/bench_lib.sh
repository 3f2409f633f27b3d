# Helpers of the benchmark scripts, sourced by each of them: the options
# they share, the build, the scratch folders, the generated and the real
# trees, fresh file systems in loop-mounted images, packages installed when
# missing, statistics of lists of numbers, and the frame of their charts.

# The checkout, and the build the benchmarks run.
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${KELVARIN_BUILD_DIR:-$repo/build}"

# ------------------------------------------------------------- options --
# Reads the command line: the shared options listed in $1 (of --quick,
# --rounds N, --keep and --svg FILE|none; -h/--help prints the script's
# header comment), and every other one through the script's function named
# in $2. That function gets the words left, takes its option and the value
# after it, and sets taken=0 for an option it doesn't know (taken=1 for one
# without a value). An unknown option ends the script with 64.
take_options() {  # "shared options" own_option_function arg...
  local shared=" $1 " own="$2"
  shift 2
  quick=0 keep=0 rounds_given=0 svg=""
  while [ $# -gt 0 ]; do
    taken=1
    if [ "$1" = -h ] || [ "$1" = --help ]; then
      awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"
      exit 0
    elif [[ "$shared" == *" $1 "* ]]; then
      case "$1" in
        --quick) quick=1 ;;
        --rounds) rounds="$2"; rounds_given=1; taken=2 ;;
        --keep) keep=1 ;;
        --svg) svg="$2"; taken=2 ;;
      esac
    else
      taken=2
      "$own" "$@"
    fi
    if [ "$taken" = 0 ]; then
      echo "unknown option: $1 (try --help)" >&2
      exit 64
    fi
    shift "$taken"
  done
}

# Ends the script with 64 unless the value is one of the choices.
check_choice() {  # what value choice...
  local what="$1" value="$2" choice list
  shift 2
  for choice; do [ "$value" != "$choice" ] || return 0; done
  list="$(printf '%s, ' "${@:1:$#-1}")"
  echo "unknown $what: $value (${list%, } or ${!#})" >&2
  exit 64
}

# Splits the comma-separated list of trees into the array selected; a
# tree not among those given ends the script with 64.
select_trees() {  # list tree...
  local kind known
  IFS=',' read -r -a selected <<<"$1"
  shift
  for kind in "${selected[@]}"; do
    known=0
    for tree; do [ "$kind" != "$tree" ] || known=1; done
    if [ "$known" = 0 ]; then
      echo "unknown tree: $kind" >&2
      exit 64
    fi
  done
}

# With --quick and no --rounds, N rounds.
quick_rounds() {  # N
  if [ "$quick" = 1 ] && [ "$rounds_given" = 0 ]; then rounds="$1"; fi
}

# The chart's file as an absolute path: none with --quick and no --svg,
# else the default given.
chart_file() {  # default_svg
  if [ -z "$svg" ]; then
    if [ "$quick" = 1 ]; then svg=none; else svg="$1"; fi
  fi
  [ "$svg" = none ] || svg="$(realpath -m "$svg")"
}

# Checks the 1-minute load once a minute and returns when it is below 0.7,
# or after the minutes given whatever the load.
wait_for_quiet() {  # minutes
  local waited=0
  while [ "$waited" -lt "$1" ] && awk '{ exit !($1 >= 0.7) }' /proc/loadavg; do
    echo "load $(cut -d' ' -f1 /proc/loadavg): waiting ($waited of $1 minutes)"
    sleep 60
    waited=$((waited + 1))
  done
}

# --------------------------------------------------------------- build --
# Builds the named targets in $build_dir; one that has never been
# configured is first made by cmake's build workflow (the programs alone).
build_targets() {  # target...
  if [ ! -f "$build_dir/CMakeCache.txt" ]; then
    (cd "$repo" && cmake --workflow --preset build >/dev/null)
  fi
  cmake --build "$build_dir" --target "$@" >/dev/null
}

# ------------------------------------------------------------- scratch --
# Prints a new folder named after $1 in $BENCH_DIR (default /tmp).
scratch_folder() {  # name
  mkdir -p "${BENCH_DIR:-/tmp}"
  mktemp -d "${BENCH_DIR:-/tmp}/$1.XXXXXX"
}
# Prints a new folder named after $1 in /dev/shm, or nothing where there
# is no writable /dev/shm.
shm_folder() {  # name
  if [ -d /dev/shm ] && [ -w /dev/shm ]; then mktemp -d "/dev/shm/$1.XXXXXX"; fi
}
# At exit: unmounts the image mounted now and removes it, the folder in
# /dev/shm and, unless --keep, the scratch folder.
remove_scratch() {
  if [ -n "${mount_point:-}" ]; then umount "$mount_point" 2>/dev/null || true; fi
  [ -z "${image:-}" ] || rm -f "$image"
  [ -z "${shm:-}" ] || rm -rf "$shm"
  [ "$keep" = 1 ] || rm -rf "$scratch"
}

# The KiB free on the file system that holds the folder.
free_kib() {  # folder
  df -Pk "$1" | awk 'NR == 2 { print $4 }'
}

# The processor, its cores and the memory, for the header of the results.
machine_summary() {
  echo "$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'), $(nproc) cores," \
       "$(awk '/MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo)"
}

# ------------------------------------------------------------ packages --
# Installs the Debian packages named (as root, after apt-get update) where
# they are missing; fails with a line naming them when not root.
install_packages() {  # package...
  [ $# -gt 0 ] || return 0
  if [ "$(id -u)" != 0 ]; then
    echo "missing: $* (install them, or run as root)" >&2
    return 1
  fi
  apt-get update -q >/dev/null
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$@" >/dev/null
}

# -------------------------------------------------------- file systems --
# Makes a new file system of type $1 (ext4, or xfs with reflink) in the
# sparse file $image of $image_bytes bytes and mounts it at $2, setting
# $mount_point. ext4's inode tables and journal are written now, so that no
# background initialisation runs during the timed runs.
mount_fresh_image() {  # ext4|xfs mount_point
  rm -f "$image"
  truncate -s "$image_bytes" "$image"
  case "$1" in
    ext4) mkfs.ext4 -q -F -E lazy_itable_init=0,lazy_journal_init=0 "$image" || return 1 ;;
    xfs) mkfs.xfs -q -f -m reflink=1 "$image" || return 1 ;;
  esac
  mkdir -p "$2"
  mount -o loop "$image" "$2" || return 1
  mount_point="$2"
}
# Unmounts it and removes the image.
release_image() {
  umount "$mount_point"
  mount_point=""
  rm -f "$image"
}

# ------------------------------------------------------------ the trees --
# Deterministic: fixed seeds, names and sizes; the bytes are pseudo-random
# so that nothing along the way can shortcut them. The kind edit adds to a
# tree (the real one, in edit_benchmark.sh) large files up to 1 GiB and the
# files its edits touch, and writes the changes into the folder named last.
generate_tree() {  # kind folder quick [changes]
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
elif kind == "edit":
    changes = sys.argv[4]
    rng.seed(20240929)
    total = sum(os.path.getsize(os.path.join(d, f)) for d, _, fs in os.walk(root) for f in fs)
    large, count = (4 << 20, 4) if quick else (64 << 20, max(0, -(-((1 << 30) - total) // (64 << 20))))
    for i in range(count):
        write(os.path.join(root, "large", f"data{i:02d}.pak"), large)
    write(os.path.join(root, "edit", "one.dat"), 1024)
    write(os.path.join(root, "edit", "gone.dat"), 64 * 1024)
    for i in range(20 if quick else 200):
        write(os.path.join(root, "edit", "folder", f"file{i:03d}.dat"), 4096)
    write(os.path.join(changes, "edit", "one.dat"), 1024)
    for i in range(100):
        write(os.path.join(changes, "new", f"file{i:03d}.dat"), rng.randint(1024, 16 * 1024))
PY
}

# The real tree: folders of this machine copied in name order, links
# followed (a link to a folder above itself, and a link to nothing, are
# dropped), leaving out what brq pack --allow-unportable refuses on Linux:
# names holding "\", names over 1,024 bytes, names that are not UTF-8 and
# names in the form of Kelvarin_Extract's temporary files. Sockets, pipes,
# devices and unreadable files are left out too. Prints what it left out.
copy_real_tree() {  # folder quick
  python3 - "$@" <<'PY'
import os, re, shutil, stat, sys
root, quick = os.fsencode(sys.argv[1]), sys.argv[2] == "1"
sources = [b"/usr/include", b"/usr/share/perl5", b"/usr/lib/python3"]
limit = 1000 if quick else None
temporary = re.compile(rb"\.kelvarin-[0-9a-f]{16}\.(part|partdir)\Z", re.IGNORECASE)
left_out = {"names brq pack refuses": 0, "dangling links": 0, "looping links": 0,
            "neither file nor folder": 0, "unreadable": 0}
files = 0

def refused(name):
    if b"\\" in name or len(name) > 1024 or temporary.match(name):
        return True
    try:
        name.decode("utf-8")
    except UnicodeDecodeError:
        return True
    return False

def copy_folder(source, target, above):
    global files
    os.mkdir(target)
    try:
        names = sorted(os.listdir(source))
    except OSError:
        left_out["unreadable"] += 1
        return
    for name in names:
        if limit is not None and files >= limit:
            return
        if refused(name):
            left_out["names brq pack refuses"] += 1
            continue
        path = os.path.join(source, name)
        try:
            st = os.stat(path)
        except OSError:
            left_out["dangling links" if os.path.islink(path) else "unreadable"] += 1
            continue
        if stat.S_ISDIR(st.st_mode):
            folder = (st.st_dev, st.st_ino)
            if folder in above:
                left_out["looping links"] += 1
                continue
            copy_folder(path, os.path.join(target, name), above | {folder})
        elif stat.S_ISREG(st.st_mode):
            try:
                shutil.copyfile(path, os.path.join(target, name))
                files += 1
            except OSError:
                left_out["unreadable"] += 1
        else:
            left_out["neither file nor folder"] += 1

for source in sources:
    try:
        st = os.stat(source)
    except OSError:
        print(f"   ({os.fsdecode(source)} is not here)")
        continue
    copy_folder(source, os.path.join(root, os.path.basename(source)), {(st.st_dev, st.st_ino)})
shown = ", ".join(f"{count} {what}" for what, count in left_out.items() if count)
print("   from " + ", ".join(os.fsdecode(s) for s in sources) +
      (f" (links followed; left out: {shown})" if shown else " (links followed; nothing left out)") +
      (f", cut at {limit} files" if limit is not None else ""))
PY
}

# The figures of each tool as a Markdown table, a row for each
# "first|second|tool|median|min|max|peak KiB", the tool as named in the
# script's array label.
times_table() {  # first_heading second_heading row...
  local row first second tool m lo hi mem
  echo "| $1 | $2 | tool | median s | min s | max s | peak RSS MiB |"
  echo "|---|---|---|---:|---:|---:|---:|"
  shift 2
  for row; do
    IFS='|' read -r first second tool m lo hi mem <<<"$row"
    printf '| %s | %s | %s | %.3f | %.3f | %.3f | %s |\n' "$first" "$second" "${label[$tool]}" "$m" "$lo" "$hi" "$(mib "$mem")"
  done
}

# Statistics of a list of numbers separated by spaces or lines.
values() { tr ' ' '\n' <<<"$1" | grep .; }
median() { values "$1" | sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
lowest() { values "$1" | sort -g | head -1; }
highest() { values "$1" | sort -g | tail -1; }
# The ratio a / b of two lists taken pair by pair, as "lowest-highest".
ratio_range() {
  paste -d' ' <(values "$1") <(values "$2") |
    awk '{ r = $1 / $2; if (NR == 1 || r < lo) lo = r; if (NR == 1 || r > hi) hi = r }
         END { printf "%.2f-%.2f", lo, hi }'
}
divide() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }


# Seconds from $EPOCHREALTIME start to end (default now), to 0.1 ms.
seconds_since() {  # start [end]
  awk -v s="$1" -v e="${2:-$EPOCHREALTIME}" 'BEGIN { printf "%.4f", e - s }'
}

# --------------------------------------------------------------- charts --
# One panel's data for gnuplot: a heading row ($1 and the tools' labels),
# then a row for each group with each tool's median, or ? where it has
# none. The key of a median's row is the format given filled with the
# group and the tool (say "%s|tmpfs|%s"); the median follows the key.
chart_data() {  # heading key_format "groups" "tools" row...
  local heading="$1" format="$2" groups="$3" tools="$4" group tool row key value
  shift 4
  printf '"%s"' "$heading"
  for tool in $tools; do printf ' "%s"' "${label[$tool]}"; done
  echo
  for group in $groups; do
    printf '%s' "$group"
    for tool in $tools; do
      printf -v key "$format" "$group" "$tool"
      value="?"
      for row; do
        if [[ "$row" == "$key|"* ]]; then value="${row#"$key|"}"; value="${value%%|*}"; fi
      done
      printf ' %s' "$value"
    done
    echo
  done
}

# Draws the chart into $svg from the gnuplot lines on standard input (the
# preamble's, then a plot for each panel), and says where it is.
draw_chart() {
  { cat; echo "unset multiplot"; } | gnuplot
  echo
  echo "Chart: $svg"
}

# Whether to draw the chart: not with --svg none, nor without gnuplot
# (said in a line). Where it is drawn, makes the folder for it.
chart_wanted() {
  [ "$svg" != none ] || return 1
  if ! command -v gnuplot >/dev/null; then
    echo
    echo "No chart: gnuplot is not installed (Debian's gnuplot-nox draws it)."
    return 1
  fi
  mkdir -p "$(dirname "$svg")"
}

# The gnuplot lines that start a chart into $svg: one panel per row of
# clustered bars, a column per tool in the colours given, the plots all
# of one width and the key once, right of them.
chart_preamble() {  # panels title ylabel colour...
  local panels="$1" title="$2" ylabel="$3" i=0 colour
  shift 3
  echo "set terminal svg size 960,$((60 + 330 * panels)) dynamic font 'sans,12' background '#ffffff'"
  echo "set output '$svg'"
  echo "set multiplot layout $panels,1 title '$title' noenhanced"
  echo "set style data histograms"
  echo "set style histogram clustered gap 1"
  echo "set style fill solid 0.9 border rgb '#333333'"
  echo "set key autotitle columnhead"
  echo "set ylabel '$ylabel'"
  echo "set grid ytics"
  echo "set lmargin at screen 0.08"
  echo "set rmargin at screen 0.72"
  echo "set key at screen 0.99, screen 0.9 right top vertical noenhanced"
  for colour; do
    i=$((i + 1))
    echo "set linetype $i lc rgb '$colour'"
  done
}
