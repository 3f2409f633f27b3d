"""Reading, checking, extracting, packing and editing Kelvarin .brq archives.

A thin layer over libkelvarin, the library behind Kelvarin_Extract and brq,
loaded with ctypes: nothing to compile, any Python 3.9 or later, and every
call goes through the library's stable C ABI, as a C program's would.

    import kelvarin

    with kelvarin.open("game.brq") as archive:
        for entry in archive:                      # the plan, in walk order
            print(entry.kind, entry.size, entry.path)
        text = archive.read("readme.txt")          # a file's bytes
        with archive.open_file("maps/level1.map") as f:
            f.seek(16)
            header = f.read(4)
        archive.extract("out")                     # as Kelvarin_Extract does

Paths inside an archive are the names from the top down joined by "/" (a
"\\" or a leading separator is taken too); they are bytes, maybe not UTF-8:
`Entry.path` decodes them with surrogateescape, which round-trips, and every
method takes either str or bytes. Paths on disk are ordinary os paths.

Every failure raises `Error`, whose `.kind` says what it was (a `Kind`), in
a subclass where one is natural (`BadArchive`, `NotFound`, ...). An extraction,
pack or edit that ran but left something out or failed part way raises
`Partial`, whose `.report` holds what happened: no call returns quietly when
something asked for did not reach the disk.

The library finds itself where `cmake --install` put it (recorded beside this
module), else by its name libkelvarin.so.1; KELVARIN_LIBRARY overrides both.
"""

from __future__ import annotations

import ctypes
import dataclasses
import enum
import io
import os
import threading
from typing import Callable, Iterable, Iterator, Optional, Union

from . import _native
from ._native import lib

__all__ = [
    "Archive", "BadArchive", "CheckResult", "EndedEarly", "Entry", "EntryFile", "EntryKind", "Error", "Event",
    "EventKind", "Fate", "IOFailure", "Kind", "Locked", "Misuse", "NameTaken", "NoMemory", "NoSpace",
    "NotAFile", "NotAFolder", "NotFound", "Partial", "ReadOnly", "Reason", "Report", "Stopped", "library_version",
    "open", "pack",
]

__version__ = "1.2.0"

PathLike = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
EntryPath = Union[str, bytes]


def library_version() -> str:
    """The version of the libkelvarin actually loaded ("1.2.0")."""
    return lib.kelvarin_version().decode()


# ------------------------------------------------------------ vocabulary --

class Kind(enum.IntEnum):
    """What a call came to: kelvarin_kind."""
    OK = 0
    PARTIAL = 1
    STOPPED = 2
    MISUSE = 3
    BAD_ARCHIVE = 4
    NOT_FOUND = 5
    NAME_TAKEN = 6
    NOT_A_FOLDER = 7
    ENDED_EARLY = 8
    NO_MEMORY = 9
    NO_SPACE = 10
    READ_ONLY = 11
    LOCKED = 12
    IO = 13
    NOT_A_FILE = 14


class EntryKind(str, enum.Enum):
    """A file or a folder; compares equal to "file" and "folder"."""
    FILE = "file"
    FOLDER = "folder"


class Fate(str, enum.Enum):
    """What an extraction of the whole archive makes of an entry."""
    WRITTEN = "written"    # a file written, or a folder made
    MERGED = "merged"      # a folder merged into an earlier one of its name, or one without a name
    REPLACED = "replaced"  # a file written, then replaced by a later file of its name
    LEFT_OUT = "left_out"  # left out with all it holds: the entry's `reason` says why


class Reason(str, enum.Enum):
    """Why an entry is left out."""
    DAMAGED = "damaged"
    BAD_NAME = "bad_name"
    TOO_DEEP = "too_deep"
    PATH_TOO_LONG = "path_too_long"
    FILE_HOLDS_NAME = "file_holds_name"
    FOLDER_HOLDS_NAME = "folder_holds_name"
    CASE_TWIN = "case_twin"


class EventKind(str, enum.Enum):
    """What an event passed to a progress callable, or kept in a Report, tells."""
    WRITTEN = "written"
    SKIPPED = "skipped"
    LEFT_OUT = "left_out"
    FAILED = "failed"
    PROGRESS = "progress"
    ADDED = "added"
    REMOVED = "removed"
    CHANGED = "changed"
    MOVED = "moved"


_ENTRY_KINDS = {1: EntryKind.FILE, 2: EntryKind.FOLDER}
_FATES = dict(zip(range(1, 5), Fate))
_REASONS = dict(zip(range(1, 8), Reason))
_EVENT_KINDS = dict(zip(range(1, 10), EventKind))


# ------------------------------------------------------------ exceptions --

class Error(Exception):
    """A call of libkelvarin that failed: `kind` says how, `message` in the programs' words."""

    def __init__(self, kind: Kind, message: str) -> None:
        super().__init__(message)
        self.kind = kind
        self.message = message


class Partial(Error):
    """It ran, but some entries were left out or failed: `report` says which."""

    def __init__(self, kind: Kind, message: str, report: "Report") -> None:
        super().__init__(kind, message)
        self.report = report


class Stopped(Error):
    """A callback asked to stop (a progress callable returned True)."""


class Misuse(Error):
    """A closed archive, or an argument the library refused."""


class BadArchive(Error):
    """Not an archive of this format, or its index is unusable."""


class NotFound(Error):
    """No such entry, file or folder."""


class NameTaken(Error):
    """The name is held already."""


class NotAFolder(Error):
    """A path goes through something that is not a folder."""


class EndedEarly(Error):
    """A file or archive ends before the bytes asked of it."""


class NoMemory(Error):
    """Memory ran out."""


class NoSpace(Error):
    """The disk is full."""


class ReadOnly(Error):
    """The file system or file can't be written."""


class Locked(Error):
    """Another process holds the archive (an edit in progress)."""


class IOFailure(Error):
    """Any other failure of the system."""


class NotAFile(Error):
    """A path to read names a folder."""


_ERRORS: dict[Kind, type[Error]] = {
    Kind.STOPPED: Stopped, Kind.MISUSE: Misuse, Kind.BAD_ARCHIVE: BadArchive,
    Kind.NOT_FOUND: NotFound, Kind.NAME_TAKEN: NameTaken, Kind.NOT_A_FOLDER: NotAFolder,
    Kind.ENDED_EARLY: EndedEarly, Kind.NO_MEMORY: NoMemory, Kind.NO_SPACE: NoSpace,
    Kind.READ_ONLY: ReadOnly, Kind.LOCKED: Locked, Kind.IO: IOFailure, Kind.NOT_A_FILE: NotAFile,
}


def _known_kind(kind: int) -> Optional[Kind]:
    try:
        return Kind(kind)
    except ValueError:  # from a newer library
        return None


def _error(kind: int, message: str) -> Error:
    known = _known_kind(kind)
    if known is None:
        return IOFailure(Kind.IO, f"{message} (kind {kind}, unknown to this module)")
    return _ERRORS.get(known, Error)(known, message)


# ----------------------------------------------------------------- facts --

@dataclasses.dataclass(frozen=True)
class Entry:
    """An entry of the archive and what an extraction of all of it makes of it."""
    path: str          # '/'-joined names, decoded from UTF-8 with surrogateescape
    path_bytes: bytes  # the same as stored
    kind: EntryKind
    size: int          # a file's bytes; 0 for a folder
    fate: Fate
    reason: Optional[Reason]  # why it is left out, else None
    data_position: int  # where a file's bytes start in the archive; 0 for a folder
    number: int        # its number in the index
    depth: int         # 1 for what the root holds
    inside_count: int  # left out: how many entries went with it
    message: str       # left out: the programs' words for why; else ""


@dataclasses.dataclass(frozen=True)
class Event:
    """One thing an extraction, pack or edit did, or its progress so far."""
    kind: EventKind
    path: str
    path_bytes: bytes
    entry_kind: Optional[EntryKind]
    size: int
    reason: Optional[Reason]
    inside_count: int
    error: Optional[Kind]   # FAILED: what went wrong
    message: str
    to: str                 # MOVED: the new path
    files_done: int
    files_total: int
    bytes_done: int
    bytes_total: int


@dataclasses.dataclass
class Report:
    """What an extraction, pack or edit did, event by event (progress aside)."""
    events: list[Event] = dataclasses.field(default_factory=list)

    def of(self, *kinds: EventKind) -> list[Event]:
        return [event for event in self.events if event.kind in kinds]

    @property
    def written(self) -> list[Event]:
        return self.of(EventKind.WRITTEN)

    @property
    def problems(self) -> list[Event]:
        """The entries left out and the failures."""
        return self.of(EventKind.LEFT_OUT, EventKind.FAILED)

    @property
    def changes(self) -> list[Event]:
        """What an edit added, removed, changed or moved (or would, in a dry run)."""
        return self.of(EventKind.ADDED, EventKind.REMOVED, EventKind.CHANGED, EventKind.MOVED)


@dataclasses.dataclass(frozen=True)
class CheckResult:
    """The facts `brq check` gives; `problems` are the entries left out."""
    sound: bool
    entries: int
    folders: int
    files: int
    total_bytes: int
    left_out: int
    damaged: int
    unused_bytes: int
    unreachable: int
    case_twins: int
    data_inside_index: int  # files whose data begin inside the index
    problems: list[Entry]


def _path_text(raw: bytes) -> str:
    return raw.decode("utf-8", "surrogateescape")


def _entry_path(path: EntryPath) -> bytes:
    return path if isinstance(path, bytes) else path.encode("utf-8", "surrogateescape")


def _entry_paths(paths: Union[None, EntryPath, Iterable[EntryPath]]) -> list[bytes]:
    if paths is None:
        return []
    if isinstance(paths, (str, bytes)):
        return [_entry_path(paths)]
    return [_entry_path(path) for path in paths]


def _disk_path(path: PathLike) -> bytes:
    return os.fsencode(path)


def _event(raw: _native.Event) -> Event:
    path = ctypes.string_at(raw.path, raw.path_size) if raw.path_size else b""
    to = ctypes.string_at(raw.to, raw.to_size) if raw.to_size else b""
    kind = _EVENT_KINDS.get(raw.kind, EventKind.PROGRESS)
    return Event(kind=kind, path=_path_text(path), path_bytes=path,
                 entry_kind=_ENTRY_KINDS.get(raw.entry_kind), size=raw.size,
                 reason=_REASONS.get(raw.reason), inside_count=raw.inside_count,
                 error=_known_kind(raw.error) if kind == EventKind.FAILED else None,
                 message=(raw.message or b"").decode("utf-8", "replace"), to=_path_text(to),
                 files_done=raw.files_done, files_total=raw.files_total,
                 bytes_done=raw.bytes_done, bytes_total=raw.bytes_total)


class _Callback:
    """An event callback for one call: keeps the ctypes function alive, keeps
    the events, and holds an exception raised by the caller's callable instead
    of letting it into C (the call is asked to stop; it is raised after)."""

    def __init__(self, progress: Optional[Callable[[Event], Optional[bool]]]) -> None:
        self.progress = progress
        self.report = Report()
        self.raised: Optional[BaseException] = None
        self.function = _native.EVENT_FN(self._on_event)

    def _on_event(self, _user: int, raw: "ctypes._Pointer[_native.Event]") -> int:
        try:
            event = _event(raw.contents)
            if event.kind != EventKind.PROGRESS:
                self.report.events.append(event)
            if self.progress is not None and self.progress(event):
                return 1
            return 0
        except BaseException as error:  # noqa: B036 - KeyboardInterrupt must not cross C either
            self.raised = error
            return 1


# --------------------------------------------------------------- archive --

class Archive:
    """An open archive: iterate it for its entries. Use it in a `with` block,
    or call close(). Calls on one Archive are serialised; different Archive
    objects may be used from different threads at once."""

    def __init__(self) -> None:
        self._handle = lib.kelvarin_archive_new()
        if not self._handle:
            raise MemoryError("libkelvarin: no memory for a handle")
        self._lock = threading.RLock()
        self._busy = False
        self._reader_keepalive: object = None
        self._reader_raised: Optional[BaseException] = None

    # -- opening and closing --

    @classmethod
    def from_path(cls, path: PathLike) -> "Archive":
        archive = cls()
        archive._opened(lambda handle: lib.kelvarin_open_path(handle, _disk_path(path)))
        return archive

    @classmethod
    def from_file(cls, file: Union[bytes, bytearray, memoryview, io.BufferedIOBase, io.RawIOBase]) -> "Archive":
        """An archive read through the library's reader callbacks from bytes in
        memory or a seekable binary file object (which stays the caller's)."""
        archive = cls()
        if isinstance(file, (bytes, bytearray, memoryview)):
            data = memoryview(file).cast("B")
            size = len(data)

            def read_at(position: int, count: int) -> bytes:
                return bytes(data[position:position + count])
        else:
            size = file.seek(0, io.SEEK_END)

            def read_at(position: int, count: int) -> bytes:
                file.seek(position)
                return file.read(count)

        def read(_user: int, position: int, buffer: int, count: int) -> int:
            try:
                chunk = read_at(position, count)
                ctypes.memmove(buffer, chunk, len(chunk))
                return len(chunk)
            except BaseException as error:  # noqa: B036 - a failed read to the library, raised after
                archive._reader_raised = error
                return -1

        reader = _native.Reader(None, size, _native.READ_FN(read), _native.CLOSE_FN())
        archive._reader_keepalive = reader
        archive._opened(lambda handle: lib.kelvarin_open_reader(handle, ctypes.byref(reader)))
        return archive

    def _opened(self, open_call: Callable[[int], int]) -> None:
        try:
            self._call(open_call)
        except BaseException:
            self.close()
            raise

    def close(self) -> None:
        """Frees the handle; later calls raise Misuse. Closing twice is fine."""
        with self._lock:
            if self._handle:
                lib.kelvarin_archive_free(self._handle)
                self._handle = None
            self._reader_keepalive = None

    def __enter__(self) -> "Archive":
        return self

    def __exit__(self, *_exception: object) -> None:
        self.close()

    def __del__(self) -> None:
        if getattr(self, "_handle", None):
            self.close()

    # -- calls --

    def _call(self, call: Callable[[int], int], callback: Optional[_Callback] = None) -> int:
        """Runs one library call on the handle and raises what it came to
        (Partial only where a callback keeps a report); returns the kind."""
        with self._lock:
            if not self._handle:
                raise Misuse(Kind.MISUSE, "the archive is closed")
            if self._busy:
                raise Misuse(Kind.MISUSE, "an archive can't be used from its own callback")
            self._busy = True
            try:
                kind = call(self._handle)
                message = lib.kelvarin_error_message(self._handle) or b""
            finally:
                self._busy = False
        if callback is not None and callback.raised is not None:
            raise callback.raised
        if self._reader_raised is not None:
            raised, self._reader_raised = self._reader_raised, None
            raise raised
        if kind == Kind.OK:
            return kind
        text = message.decode("utf-8", "replace")
        if kind == Kind.PARTIAL and callback is not None:
            raise Partial(Kind.PARTIAL, text, callback.report)
        raise _error(kind, text)

    # -- the plan --

    def __len__(self) -> int:
        with self._lock:
            if not self._handle:
                raise Misuse(Kind.MISUSE, "the archive is closed")
            return lib.kelvarin_entry_count(self._handle)

    def __iter__(self) -> Iterator[Entry]:
        return self.entries()

    def entries(self) -> Iterator[Entry]:
        """The entries in the order Kelvarin_Extract walks them (`brq list --all`)."""
        for position in range(len(self)):
            yield self._entry_at(position)

    def find(self, path: EntryPath) -> Entry:
        """The entry at `path`: the file extraction leaves there (for a name
        held twice, the later file), else the first listed there in walk
        order. Raises NotFound otherwise."""
        position = ctypes.c_size_t(0)
        self._call(lambda handle: lib.kelvarin_find(handle, _entry_path(path), ctypes.byref(position)))
        return self._entry_at(position.value)

    def _entry_at(self, position: int) -> Entry:
        raw = _native.Entry()
        self._call(lambda handle: lib.kelvarin_entry_at(handle, position, ctypes.byref(raw)))
        path = ctypes.string_at(raw.path, raw.path_size)
        return Entry(path=_path_text(path), path_bytes=path, kind=_ENTRY_KINDS[raw.kind],
                     size=raw.size, fate=_FATES[raw.fate], reason=_REASONS.get(raw.reason),
                     data_position=raw.data_position, number=raw.number, depth=raw.depth,
                     inside_count=raw.inside_count,
                     message=(raw.message or b"").decode("utf-8", "replace"))

    # -- reading --

    def read(self, path: EntryPath) -> bytes:
        """The whole file at `path` (for a name held twice, the one extraction leaves)."""
        chunks: list[bytes] = []

        def write(_user: int, data: int, count: int) -> int:
            chunks.append(ctypes.string_at(data, count))
            return 0

        function = _native.WRITE_FN(write)
        self._call(lambda handle: lib.kelvarin_read_to(handle, _entry_path(path), function, None))
        return b"".join(chunks)

    def read_range(self, path: EntryPath, offset: int, buffer: Union[bytearray, memoryview]) -> int:
        """Reads into `buffer` from `offset` into the file: how many bytes
        (fewer only at its end, 0 at or past it)."""
        view = memoryview(buffer).cast("B")
        if not view:
            return 0
        target = (ctypes.c_char * len(view)).from_buffer(view)
        done = ctypes.c_size_t(0)
        self._call(lambda handle: lib.kelvarin_read(handle, _entry_path(path), offset, target,
                                                    len(view), ctypes.byref(done)))
        return done.value

    def file_size(self, path: EntryPath) -> int:
        """The size of the file at `path` that an extraction leaves."""
        entry = self.find(path)
        if entry.kind != EntryKind.FILE or entry.fate != Fate.WRITTEN:
            # Not a file an extraction leaves: the library says why, in its
            # own words, as a read of it does.
            self.read_range(path, 0, bytearray(1))
        return entry.size

    def open_file(self, path: EntryPath) -> "EntryFile":
        """A read-only, seekable binary file over the file at `path`."""
        return EntryFile(self, _entry_path(path), self.file_size(path))

    # -- extraction and checking --

    def extract(self, dest: PathLike, patterns: Union[None, EntryPath, Iterable[EntryPath]] = None,
                exclude: Union[None, EntryPath, Iterable[EntryPath]] = None, jobs: Optional[int] = None,
                skip_existing: bool = False, progress: Optional[Callable[[Event], Optional[bool]]] = None,
                make_parents: bool = False, ignore_case: bool = False) -> Report:
        """Extracts into `dest` as `brq extract` does: everything, or the
        entries `patterns` name (paths or patterns), less those `exclude` names.
        `jobs`: files written at once (None: one per processor, at most 8).
        `progress` is called with each Event; returning True stops the run.
        Raises Partial (with the report) when anything was left out or failed."""
        callback = _Callback(progress)
        options = _native.options(_native.ExtractOptions)
        options.jobs = jobs or 0
        options.skip_existing = int(skip_existing)
        options.make_parents = int(make_parents)
        options.ignore_case = int(ignore_case)
        paths, options.path_count = _native.string_array(_entry_paths(patterns))
        excludes, options.exclude_count = _native.string_array(_entry_paths(exclude))
        options.paths, options.excludes = paths, excludes
        options.on_event = callback.function
        self._call(lambda handle: lib.kelvarin_extract(handle, _disk_path(dest), ctypes.byref(options)),
                   callback)
        return callback.report

    def check(self) -> CheckResult:
        """The index checked as an extraction would, nothing written."""
        raw = _native.options(_native.CheckResult)
        self._call(lambda handle: lib.kelvarin_check(handle, ctypes.byref(raw)))
        problems = [entry for entry in self if entry.fate == Fate.LEFT_OUT]
        return CheckResult(sound=bool(raw.sound), entries=raw.entries, folders=raw.folders,
                           files=raw.files, total_bytes=raw.total_bytes, left_out=raw.left_out,
                           damaged=raw.damaged, unused_bytes=raw.unused_bytes,
                           unreachable=raw.unreachable, case_twins=raw.case_twins,
                           data_inside_index=raw.data_inside_index, problems=problems)

    # -- edits --

    def _edit(self, call: Callable[[int, ctypes.Structure], int], dry_run: bool,
              directory: Optional[PathLike], exclude: Union[None, EntryPath, Iterable[EntryPath]],
              allow_unportable: bool, dereference: bool,
              progress: Optional[Callable[[Event], Optional[bool]]], drop_damaged: bool = False) -> Report:
        callback = _Callback(progress)
        options = _native.options(_native.EditOptions)
        options.dry_run = int(dry_run)
        options.directory = _disk_path(directory) if directory is not None else None
        excludes, options.exclude_count = _native.string_array(_entry_paths(exclude))
        options.excludes = excludes
        options.allow_unportable = int(allow_unportable)
        options.dereference = int(dereference)
        options.drop_damaged = int(drop_damaged)
        options.on_event = callback.function
        self._call(lambda handle: call(handle, options), callback)
        return callback.report

    def add(self, paths: Union[PathLike, Iterable[PathLike]], directory: Optional[PathLike] = None, *,
            exclude: Union[None, EntryPath, Iterable[EntryPath]] = None, allow_unportable: bool = False,
            dereference: bool = False, dry_run: bool = False, drop_damaged: bool = False,
            progress: Optional[Callable[[Event], Optional[bool]]] = None) -> Report:
        """Adds files and folders from disk (`paths` below `directory`, default
        the current folder) as `brq add` does; the archive stays open, edited."""
        names = [_disk_path(paths)] if isinstance(paths, (str, bytes, os.PathLike)) else \
            [_disk_path(path) for path in paths]
        array, count = _native.string_array(names)
        return self._edit(lambda handle, options: lib.kelvarin_add(handle, array, count, ctypes.byref(options)),
                          dry_run, directory, exclude, allow_unportable, dereference, progress, drop_damaged)

    def rm(self, paths: Union[EntryPath, Iterable[EntryPath]], *, dry_run: bool = False,
           drop_damaged: bool = False, progress: Optional[Callable[[Event], Optional[bool]]] = None) -> Report:
        """Removes entries (a folder with all it holds) as `brq rm` does.
        `drop_damaged`: an archive an extraction would leave entries out of
        is refused, unless they are to be left out of the edited one too
        (this holds for every edit)."""
        array, count = _native.string_array(_entry_paths(paths))
        return self._edit(lambda handle, options: lib.kelvarin_remove(handle, array, count, ctypes.byref(options)),
                          dry_run, None, None, False, False, progress, drop_damaged)

    def mv(self, source: EntryPath, target: EntryPath, *, allow_unportable: bool = False,
           dry_run: bool = False, drop_damaged: bool = False, progress: Optional[Callable[[Event], Optional[bool]]] = None) -> Report:
        """Moves or renames an entry as `brq mv` does."""
        return self._edit(lambda handle, options: lib.kelvarin_move(
            handle, _entry_path(source), _entry_path(target), ctypes.byref(options)),
            dry_run, None, None, allow_unportable, False, progress, drop_damaged)

    def sync(self, folder: PathLike, *, exclude: Union[None, EntryPath, Iterable[EntryPath]] = None,
             allow_unportable: bool = False, dereference: bool = False, dry_run: bool = False,
             drop_damaged: bool = False, progress: Optional[Callable[[Event], Optional[bool]]] = None) -> Report:
        """Makes the archive hold what `folder` holds, as `brq sync` does."""
        return self._edit(lambda handle, options: lib.kelvarin_sync(handle, _disk_path(folder), ctypes.byref(options)),
                          dry_run, None, exclude, allow_unportable, dereference, progress, drop_damaged)


class EntryFile(io.RawIOBase):
    """A file of an archive as a read-only, seekable binary file; it reads
    through the archive, so use it while the archive is open."""

    def __init__(self, archive: Archive, path: bytes, size: int) -> None:
        super().__init__()
        self._archive = archive
        self._path = path
        self._size = size
        self._position = 0
        self.name = _path_text(path)

    def readable(self) -> bool:
        return True

    def seekable(self) -> bool:
        return True

    def readinto(self, buffer: Union[bytearray, memoryview]) -> int:
        if self.closed:
            raise ValueError("I/O operation on closed file")
        done = self._archive.read_range(self._path, self._position, buffer)
        self._position += done
        return done

    def readall(self) -> bytes:
        buffer = bytearray(max(self._size - self._position, 0))
        view = memoryview(buffer)
        filled = 0
        while filled < len(buffer):
            done = self.readinto(view[filled:])
            if done == 0:
                break
            filled += done
        return bytes(buffer[:filled])

    def seek(self, offset: int, whence: int = io.SEEK_SET) -> int:
        base = {io.SEEK_SET: 0, io.SEEK_CUR: self._position, io.SEEK_END: self._size}.get(whence)
        if base is None:
            raise ValueError(f"invalid whence ({whence})")
        if base + offset < 0:
            raise ValueError("negative seek position")
        self._position = base + offset
        return self._position

    def tell(self) -> int:
        return self._position


# -------------------------------------------------------------- functions --

def open(source: Union[PathLike, bytearray, memoryview, io.IOBase]) -> Archive:  # noqa: A001
    """Opens an archive at a path (str, bytes or os.PathLike), or reads one
    from a bytearray, memoryview or seekable binary file object (for bytes
    in memory, use Archive.from_file, since bytes name a path here)."""
    if isinstance(source, (bytearray, memoryview, io.IOBase)):
        return Archive.from_file(source)
    return Archive.from_path(source)


def pack(archive_path: PathLike, folder: PathLike, paths: Iterable[PathLike] = (), *,
         exclude: Union[None, EntryPath, Iterable[EntryPath]] = None, allow_unportable: bool = False,
         dereference: bool = False, progress: Optional[Callable[[Event], Optional[bool]]] = None) -> Archive:
    """Makes the archive `archive_path` of `folder` (or of `paths` below it)
    as `brq pack` does, and returns it open. Raises Partial when something
    was left out or a name Windows can't hold refused the pack."""
    archive = Archive()
    callback = _Callback(progress)
    options = _native.options(_native.PackOptions)
    excludes, options.exclude_count = _native.string_array(_entry_paths(exclude))
    options.excludes = excludes
    options.allow_unportable = int(allow_unportable)
    options.dereference = int(dereference)
    options.on_event = callback.function
    array, count = _native.string_array([_disk_path(path) for path in paths])
    try:
        archive._call(lambda handle: lib.kelvarin_pack(handle, _disk_path(archive_path), _disk_path(folder),
                                                       array, count, ctypes.byref(options)), callback)
    except BaseException:
        archive.close()
        raise
    return archive
