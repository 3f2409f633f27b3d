#!/usr/bin/env python3
"""Lists an archive as brq list does, checks it, and extracts it with a
progress line: python3 list_and_extract.py ARCHIVE DESTINATION"""

import sys

import kelvarin


def main(archive_path: str, destination: str) -> int:
    try:
        archive = kelvarin.open(archive_path)
    except kelvarin.Error as error:  # BadArchive, NotFound, ...
        print(f"{archive_path}: {error} ({error.kind.name})", file=sys.stderr)
        return 1
    with archive:
        for entry in archive:
            where = entry.data_position if entry.kind == "file" else "-"
            print(f"{entry.kind.value:6} {entry.size:>10} {where:>10}  {entry.path or '/'}")
            if entry.fate == kelvarin.Fate.LEFT_OUT:
                print(f"  left out: {entry.message}", file=sys.stderr)

        result = archive.check()
        print(f"{result.files} files, {result.folders} folders, {result.total_bytes} bytes:",
              "sound" if result.sound else f"{len(result.problems)} problems")

        def progress(event: kelvarin.Event) -> None:
            if event.kind == kelvarin.EventKind.PROGRESS:
                print(f"\r{event.files_done}/{event.files_total} files", end="", file=sys.stderr)

        try:
            report = archive.extract(destination, progress=progress)
        except kelvarin.Partial as partial:  # it ran, but not everything was written
            print(file=sys.stderr)
            for event in partial.report.problems:
                print(f"ERROR: {event.message}", file=sys.stderr)
            return 2
        except kelvarin.Error as error:  # the destination can't be used: nothing made
            print(f"\n{destination}: {error}", file=sys.stderr)
            return 1
        print(file=sys.stderr)
        print(f"{len(report.written)} files written to {destination}")
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__.splitlines()[1].strip())
    sys.exit(main(sys.argv[1], sys.argv[2]))
