# Helpers of the benchmark scripts, sourced by run_benchmark.sh and
# edit_benchmark.sh: the generated and the real trees, fresh file systems
# in loop-mounted images, packages installed when missing, and statistics
# of lists of numbers.

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

# Statistics of a list of numbers separated by spaces.
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

