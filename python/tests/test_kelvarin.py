"""The Python module as installed: run by the ctest python_module, which
installs the build into a scratch prefix and points PYTHONPATH there
(KELVARIN_PREFIX, KELVARIN_SOURCE_DIR say where)."""

import ctypes
import filecmp
import io
import json
import os
import pathlib
import subprocess
import sys

import pytest

import kelvarin

SOURCE = pathlib.Path(os.environ.get("KELVARIN_SOURCE_DIR", pathlib.Path(__file__).parents[2]))
PREFIX = pathlib.Path(os.environ["KELVARIN_PREFIX"]) if "KELVARIN_PREFIX" in os.environ else None
SAMPLE = SOURCE / "examples" / "sample.brq"
SAMPLE_TREE = SOURCE / "examples" / "sample"
SAMPLE_FILES = sorted(p.relative_to(SAMPLE_TREE).as_posix() for p in SAMPLE_TREE.rglob("*") if p.is_file())


def brq():
    return str(PREFIX / "bin" / "brq") if PREFIX else "brq"


def same_tree(a, b):
    comparison = filecmp.dircmp(a, b)
    if comparison.left_only or comparison.right_only or comparison.funny_files:
        return False
    _, mismatch, errors = filecmp.cmpfiles(a, b, comparison.common_files, shallow=False)
    return not mismatch and not errors and all(
        same_tree(os.path.join(a, d), os.path.join(b, d)) for d in comparison.common_dirs)


def test_the_module_loads_the_installed_library():
    assert kelvarin.library_version() == kelvarin.__version__
    if PREFIX:
        assert pathlib.Path(kelvarin._native.lib._name).resolve().is_relative_to(PREFIX.resolve())


@pytest.mark.skipif("KELVARIN_STRUCT_LAYOUT" not in os.environ, reason="struct_layout not built")
def test_the_structs_are_laid_out_as_in_the_header():
    mirrors = {"kelvarin_entry": kelvarin._native.Entry, "kelvarin_event": kelvarin._native.Event,
               "kelvarin_reader": kelvarin._native.Reader,
               "kelvarin_extract_options": kelvarin._native.ExtractOptions,
               "kelvarin_check_result": kelvarin._native.CheckResult,
               "kelvarin_pack_options": kelvarin._native.PackOptions,
               "kelvarin_edit_options": kelvarin._native.EditOptions}
    printed = subprocess.run([os.environ["KELVARIN_STRUCT_LAYOUT"]], check=True, capture_output=True,
                             text=True).stdout.split("\n")
    in_c = sorted(tuple(line.split()) for line in printed if line)
    in_python = sorted((name, field, str(getattr(mirror, field).offset)) for name, mirror in mirrors.items()
                       for field, _ in mirror._fields_)
    in_python += [(name, "sizeof", str(ctypes.sizeof(mirror))) for name, mirror in mirrors.items()]
    assert sorted(in_python) == in_c


@pytest.mark.parametrize("opener", [kelvarin.open, lambda p: kelvarin.open(io.BytesIO(p.read_bytes())),
                                    lambda p: kelvarin.Archive.from_file(p.read_bytes())],
                         ids=["path", "file object", "bytes"])
def test_listing_is_brq_list(opener):
    listed = json.loads(subprocess.run([brq(), "list", "--json", str(SAMPLE)], check=True,
                                       capture_output=True).stdout)["entries"]
    with opener(SAMPLE) as archive:
        entries = list(archive)
    assert [(e.path, e.kind, e.size, e.data_position if e.kind == "file" else None, e.number)
            for e in entries] == \
           [(l["path"], l["kind"], l["size"], l["offset"], l["index"]) for l in listed]
    assert all(e.fate == kelvarin.Fate.WRITTEN or (e.fate == "merged" and e.path == "") for e in entries)


@pytest.mark.parametrize("path", SAMPLE_FILES)
def test_read_and_open_file_give_the_files_bytes(path):
    expected = (SAMPLE_TREE / path).read_bytes()
    with kelvarin.open(SAMPLE) as archive:
        assert archive.read(path) == expected
        assert archive.read("\\" + path.replace("/", "\\")) == expected
        assert archive.find("/" + path).path == path
        with archive.open_file(path) as f:
            assert f.seek(0, io.SEEK_END) == len(expected)
            f.seek(len(expected) // 3)
            assert f.read(7) == expected[len(expected) // 3:][:7]
            assert f.read() == expected[len(expected) // 3 + 7:]
            assert f.read(5) == b""
            f.seek(0)
            assert io.BufferedReader(f).read() == expected


def test_extract_makes_the_sample_tree(tmp_path):
    with kelvarin.open(SAMPLE) as archive:
        report = archive.extract(tmp_path / "out", jobs=2)
        assert sorted(e.path for e in report.written) == SAMPLE_FILES
        assert same_tree(SAMPLE_TREE, tmp_path / "out")
        part = archive.extract(tmp_path / "part", ["maps"], exclude=["level2*"])
        assert [e.path for e in part.written] == ["maps/level1.map"]
        # A path that names nothing: the rest is done, and it is no success.
        with pytest.raises(kelvarin.Partial) as raised:
            archive.extract(tmp_path / "more", ["readme.txt", "no/such"])
        assert raised.value.kind == kelvarin.Kind.PARTIAL
        assert (tmp_path / "more" / "readme.txt").exists()


@pytest.mark.parametrize("call, error, kind", [
    (lambda t: kelvarin.open(t / "absent.brq"), kelvarin.NotFound, kelvarin.Kind.NOT_FOUND),
    (lambda t: kelvarin.open(SAMPLE_TREE / "readme.txt"), kelvarin.BadArchive, kelvarin.Kind.BAD_ARCHIVE),
    (lambda t: kelvarin.open(SAMPLE).read("maps/absent.map"), kelvarin.NotFound, kelvarin.Kind.NOT_FOUND),
    (lambda t: kelvarin.open(SAMPLE).open_file("maps"), kelvarin.NotAFile, kelvarin.Kind.NOT_A_FILE),
    (lambda t: kelvarin.open(SAMPLE).find("maps/absent.map"), kelvarin.NotFound, kelvarin.Kind.NOT_FOUND),
    (lambda t: kelvarin.open(SAMPLE).extract(SAMPLE_TREE / "readme.txt"), kelvarin.Error,
     kelvarin.Kind.NOT_A_FOLDER),
])
def test_a_failure_raises_its_kind(tmp_path, call, error, kind):
    with pytest.raises(error) as raised:
        call(tmp_path)
    assert raised.value.message
    if kind is not None:
        assert raised.value.kind == kind


def test_a_closed_archive_is_misuse():
    archive = kelvarin.open(SAMPLE)
    archive.close()
    with pytest.raises(kelvarin.Misuse):
        archive.read("readme.txt")


class FailingFile(io.BytesIO):
    """An archive's file whose reads fail once `fail` is set."""
    fail = False

    def read(self, *args):
        if self.fail:
            raise OSError("the disk went away")
        return super().read(*args)


def test_a_callback_that_raises_stops_the_call_and_is_raised(tmp_path):
    seen = []

    def progress(event):
        seen.append(event)
        raise KeyError("from the callback")

    with kelvarin.open(SAMPLE) as archive:
        with pytest.raises(KeyError, match="from the callback"):
            archive.extract(tmp_path / "out", progress=progress, jobs=1)
        assert len(seen) == 1
        # Returning True stops it as well, without an exception of the caller's.
        with pytest.raises(kelvarin.Stopped):
            archive.extract(tmp_path / "again", progress=lambda event: True)
        assert archive.read("readme.txt") == (SAMPLE_TREE / "readme.txt").read_bytes()
    # A reader that raises: the library is told the read failed, and the
    # caller gets the reader's own exception.
    source = FailingFile(SAMPLE.read_bytes())
    with kelvarin.open(source) as archive:
        source.fail = True
        with pytest.raises(OSError, match="the disk went away"):
            archive.read("readme.txt")
        source.fail = False
        assert archive.read("readme.txt") == (SAMPLE_TREE / "readme.txt").read_bytes()


@pytest.mark.skipif("kelvarin_pack" in kelvarin._native.absent or "kelvarin_move" in kelvarin._native.absent,
                    reason="this libkelvarin has no pack and edits")
def test_pack_and_the_edits(tmp_path):
    path = tmp_path / "made.brq"
    with kelvarin.pack(path, SAMPLE_TREE) as archive:
        assert sorted(e.path for e in archive if e.kind == "file") == SAMPLE_FILES
        assert archive.check().sound
        before = list(archive)
        planned = archive.rm(["maps"], dry_run=True)
        assert [(e.kind, e.path) for e in planned.changes] == [(kelvarin.EventKind.REMOVED, "maps")]
        assert list(archive) == before
        archive.rm("maps")
        archive.mv("readme.txt", "docs/readme.txt")
        archive.add(["maps/level1.map"], directory=SAMPLE_TREE)
        assert sorted(e.path for e in archive if e.kind == "file") == sorted(
            ["docs/readme.txt", "maps/level1.map", "sounds/ambient/wind.ogg", "textures/stone.tex"])
    with kelvarin.open(path) as archive:
        assert archive.read("docs/readme.txt") == (SAMPLE_TREE / "readme.txt").read_bytes()
        assert archive.sync(SAMPLE_TREE, dry_run=True).changes


def test_the_documented_example_runs(tmp_path):
    run = subprocess.run([sys.executable, str(SOURCE / "docs" / "examples" / "list_and_extract.py"),
                          str(SAMPLE), str(tmp_path / "out")], capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    assert "readme.txt" in run.stdout
    assert same_tree(SAMPLE_TREE, tmp_path / "out")
