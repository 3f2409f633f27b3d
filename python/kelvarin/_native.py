"""The C declarations of libkelvarin for ctypes, and the loading of the library.

Kept apart from the Pythonic layer in __init__.py: this file mirrors
kelvarin.h field for field, so that a change there has one place to land.
"""

from __future__ import annotations

import ctypes
import ctypes.util
import os
from ctypes import (CFUNCTYPE, POINTER, Structure, c_char_p, c_int, c_int64, c_size_t, c_uint,
                    c_uint32, c_uint64, c_void_p)

SONAME = "libkelvarin.so.1"


def _candidates() -> list[str]:
    """Where the library may be, most specific first."""
    found = []
    explicit = os.environ.get("KELVARIN_LIBRARY")
    if explicit:
        found.append(explicit)
    try:
        from . import _where  # written by `cmake --install`
        found.append(os.path.normpath(os.path.join(os.path.dirname(__file__), _where.LIBRARY)))
    except ImportError:
        pass
    found.append(SONAME)
    by_search = ctypes.util.find_library("kelvarin")
    if by_search:
        found.append(by_search)
    return found


def _load() -> ctypes.CDLL:
    tried = []
    for candidate in _candidates():
        try:
            return ctypes.CDLL(candidate)
        except OSError as error:
            tried.append(f"{candidate}: {error}")
    raise ImportError("libkelvarin could not be loaded (set KELVARIN_LIBRARY to its path); tried\n  "
                      + "\n  ".join(tried))


class Entry(Structure):
    _fields_ = [
        ("number", c_uint32),
        ("depth", c_uint32),
        ("path", ctypes.POINTER(ctypes.c_char)),
        ("path_size", c_size_t),
        ("kind", c_int),
        ("size", c_uint64),
        ("data_position", c_uint64),
        ("fate", c_int),
        ("reason", c_int),
        ("inside_count", c_uint64),
        ("message", c_char_p),
    ]


class Event(Structure):
    _fields_ = [
        ("kind", c_int),
        ("path", ctypes.POINTER(ctypes.c_char)),
        ("path_size", c_size_t),
        ("number", c_uint32),
        ("size", c_uint64),
        ("reason", c_int),
        ("inside_count", c_uint64),
        ("error", c_int),
        ("message", c_char_p),
        ("files_done", c_uint64),
        ("files_total", c_uint64),
        ("bytes_done", c_uint64),
        ("bytes_total", c_uint64),
        ("to", ctypes.POINTER(ctypes.c_char)),
        ("to_size", c_size_t),
        ("entry_kind", c_uint32),
    ]


READ_FN = CFUNCTYPE(c_int64, c_void_p, c_uint64, c_void_p, c_size_t)
CLOSE_FN = CFUNCTYPE(None, c_void_p)
WRITE_FN = CFUNCTYPE(c_int, c_void_p, c_void_p, c_size_t)
EVENT_FN = CFUNCTYPE(c_int, c_void_p, POINTER(Event))


class Reader(Structure):
    _fields_ = [
        ("user", c_void_p),
        ("size", c_uint64),
        ("read", READ_FN),
        ("close", CLOSE_FN),
    ]


class ExtractOptions(Structure):
    _fields_ = [
        ("struct_size", c_size_t),
        ("jobs", c_uint),
        ("skip_existing", c_int),
        ("make_parents", c_int),
        ("ignore_case", c_int),
        ("paths", POINTER(c_char_p)),
        ("path_count", c_size_t),
        ("excludes", POINTER(c_char_p)),
        ("exclude_count", c_size_t),
        ("on_event", EVENT_FN),
        ("user", c_void_p),
    ]


class CheckResult(Structure):
    _fields_ = [
        ("struct_size", c_size_t),
        ("sound", c_int),
        ("entries", c_uint64),
        ("folders", c_uint64),
        ("files", c_uint64),
        ("total_bytes", c_uint64),
        ("left_out", c_uint64),
        ("damaged", c_uint64),
        ("unused_bytes", c_uint64),
        ("unreachable", c_uint64),
        ("case_twins", c_uint64),
        ("data_inside_index", c_uint64),
    ]


class PackOptions(Structure):
    _fields_ = [
        ("struct_size", c_size_t),
        ("excludes", POINTER(c_char_p)),
        ("exclude_count", c_size_t),
        ("allow_unportable", c_int),
        ("dereference", c_int),
        ("on_event", EVENT_FN),
        ("user", c_void_p),
    ]


class EditOptions(Structure):
    _fields_ = [
        ("struct_size", c_size_t),
        ("dry_run", c_int),
        ("directory", c_char_p),
        ("excludes", POINTER(c_char_p)),
        ("exclude_count", c_size_t),
        ("allow_unportable", c_int),
        ("dereference", c_int),
        ("on_event", EVENT_FN),
        ("user", c_void_p),
        ("drop_damaged", c_int),
    ]


def options(structure: type[Structure]) -> Structure:
    """An options or result struct as its library function wants it: zeros
    (the defaults) and its own size in `struct_size`. Not made by the
    library's *_init functions, which write the size of the library's struct:
    a newer library's, larger than this module's, would overflow it."""
    made = structure()
    made.struct_size = ctypes.sizeof(made)
    return made


lib = _load()

_handle = c_void_p
_strings = POINTER(c_char_p)
_declarations = {
    "kelvarin_version": (c_char_p, []),
    "kelvarin_kind_name": (c_char_p, [c_int]),
    "kelvarin_archive_new": (_handle, []),
    "kelvarin_open_path": (c_int, [_handle, c_char_p]),
    "kelvarin_open_reader": (c_int, [_handle, POINTER(Reader)]),
    "kelvarin_archive_free": (None, [_handle]),
    "kelvarin_error_kind": (c_int, [_handle]),
    "kelvarin_error_message": (c_char_p, [_handle]),
    "kelvarin_entry_count": (c_size_t, [_handle]),
    "kelvarin_entry_at": (c_int, [_handle, c_size_t, POINTER(Entry)]),
    "kelvarin_find": (c_int, [_handle, c_char_p, POINTER(c_size_t)]),
    "kelvarin_read": (c_int, [_handle, c_char_p, c_uint64, c_void_p, c_size_t, POINTER(c_size_t)]),
    "kelvarin_read_to": (c_int, [_handle, c_char_p, WRITE_FN, c_void_p]),
    "kelvarin_extract": (c_int, [_handle, c_char_p, POINTER(ExtractOptions)]),
    "kelvarin_check": (c_int, [_handle, POINTER(CheckResult)]),
    "kelvarin_pack": (c_int, [_handle, c_char_p, c_char_p, _strings, c_size_t, POINTER(PackOptions)]),
    "kelvarin_add": (c_int, [_handle, _strings, c_size_t, POINTER(EditOptions)]),
    "kelvarin_remove": (c_int, [_handle, _strings, c_size_t, POINTER(EditOptions)]),
    "kelvarin_move": (c_int, [_handle, c_char_p, c_char_p, POINTER(EditOptions)]),
    "kelvarin_sync": (c_int, [_handle, c_char_p, POINTER(EditOptions)]),
}


absent: set[str] = set()  # the functions this module knows that the library loaded lacks


def _absent(name: str):
    def call(*_arguments):
        raise AttributeError(f"{name} is not in the libkelvarin loaded (version "
                             f"{lib.kelvarin_version().decode()})")
    return call


for _name, (_result, _arguments) in _declarations.items():
    try:
        _function = getattr(lib, _name)
    except AttributeError:
        # An older library than this module: what it has still works.
        setattr(lib, _name, _absent(_name))
        absent.add(_name)
        continue
    _function.restype = _result
    _function.argtypes = _arguments


def string_array(items: list[bytes]) -> tuple[ctypes.Array | None, int]:
    """A C array of the byte strings (None when there are none), and its length."""
    if not items:
        return None, 0
    return (c_char_p * len(items))(*items), len(items)
