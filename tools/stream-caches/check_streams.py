"""Checks committed stream caches against their streams.tsv and parts.tsv: reads every part back from the cache,
joins the complete streams from the cached bodies and compares their SHA-256; ffmpeg, where present, must decode
each join without a word. For tests/data/stream-joins also the cues and frames.tsv (frames decoded again from the
cached bodies).

Usage: check_streams.py [DIR]   (default tests/data/streams). Exit status 1 on a mismatch.
"""

import hashlib
import pathlib
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "browser-caches"))

import cache_reader  # noqa: E402
import media_joins  # noqa: E402

CACHES = ("chromium-simple", "chromium-blockfile", "chromium-sql", "firefox-cache2")
STREAMS_HEADER = ["name", "type", "state", "present", "expected", "sha256", "manifest_url"]
PARTS_HEADER = ["stream", "role", "url", "cached"]
JOIN_STREAMS_HEADER = ["name", "type", "how", "state", "present", "expected", "served_sha256", "manifest_url", "cues"]
JOIN_PARTS_HEADER = PARTS_HEADER + ["run", "track"]
FRAMES_HEADER = ["name", "stream", "run", "md5"]
JOINED = ("init", "segment", "track")


def ffmpeg_says(path):
    run = subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-i", str(path), "-f", "null", "-"],
                         capture_output=True, text=True)
    return (run.stdout + run.stderr).strip()


def table(path, header):
    lines = path.read_text(encoding="utf-8").splitlines()
    rows = [line.split("\t") for line in lines[1:]]
    return lines[0].split("\t") == header and all(len(r) == len(header) for r in rows), rows


def check(folder, say=None):
    folder = pathlib.Path(folder)
    failures = []

    def check_that(ok, text):
        if say:
            say(ok, text)
        else:
            print(f"   {'ok  ' if ok else 'FAIL'} {text}")
        if not ok:
            failures.append(text)

    entries = {e.url: e for e in cache_reader.READERS[folder.name](folder) if e.is_response()}
    if (folder / "frames.tsv").exists():
        check_joins(folder, entries, check_that)
        return failures
    good, streams = table(folder / "streams.tsv", STREAMS_HEADER)
    check_that(good, "streams.tsv: header " + " ".join(STREAMS_HEADER))
    good, parts = table(folder / "parts.tsv", PARTS_HEADER)
    check_that(good, "parts.tsv: header " + " ".join(PARTS_HEADER))
    wrong = []
    for name, role, url, cached in parts:
        e = entries.get(url)
        got = "absent" if e is None else "whole" if e.complete else "partial"
        if got != cached:
            wrong.append(f"{url}: {got}, listed {cached}")
    check_that(not wrong, f"parts read back as listed: {len(parts) - len(wrong)}/{len(parts)}"
                          + "".join("\n        " + w for w in wrong))
    window = (folder / "generated.tsv").read_text().splitlines()
    started, ended = (int(x) for x in window[1].split("\t"))
    held = [entries[p[2]] for p in parts if p[2] in entries]
    outside = [e.url for e in held if not started <= e.stored <= ended]
    check_that(window[0] == "started\tended" and not outside,
               f"every cached part stored between {started} and {ended}: {len(held) - len(outside)}/{len(held)}")
    listed = {r[0] for r in streams}
    names = []
    for p in parts:
        if p[0] not in names:
            names.append(p[0])
    for name in names:
        joined = [p for p in parts if p[0] == name and p[1] in JOINED]
        if all(p[3] == "absent" for p in joined):
            check_that(name not in listed, f"{name}: nothing cached, no line in streams.tsv")
    ffmpeg = shutil.which("ffmpeg")
    with tempfile.TemporaryDirectory() as scratch:
        for name, kind, state, present, expected, sha, manifest in streams:
            joined = [p for p in parts if p[0] == name and p[1] in JOINED]
            whole = sum(p[3] == "whole" for p in joined)
            check_that((int(present), int(expected)) == (whole, len(joined)) and
                       (state == "complete") == (whole == len(joined)) and bool(sha) == (state == "complete"),
                       f"{name}: {state}, {present} of {expected} parts whole")
            if state != "complete":
                continue
            join = b"".join(entries[p[2]].decoded() for p in joined)
            check_that(hashlib.sha256(join).hexdigest() == sha, f"{name}: join of the cached bodies has its sha256")
            if ffmpeg:
                path = pathlib.Path(scratch) / ("join." + kind)
                path.write_bytes(join)
                said = ffmpeg_says(path)
                check_that(not said, f"{name}: ffmpeg decodes the join clean{': ' + said if said else ''}")
    return failures


def check_window(folder, parts, entries, check_that):
    window = (folder / "generated.tsv").read_text().splitlines()
    started, ended = (int(x) for x in window[1].split("\t"))
    held = [entries[p[2]] for p in parts if p[2] in entries]
    outside = [e.url for e in held if not started <= e.stored <= ended]
    check_that(window[0] == "started\tended" and not outside,
               f"every cached part stored between {started} and {ended}: {len(held) - len(outside)}/{len(held)}")


class Body:
    def __init__(self, body):
        self.body = body


def runs_of(joined, entries):
    """The parts as media_joins' runs: (run, {source stream: output stream}, bodies), picture runs first."""
    groups = {}
    for name, role, url, cached, run, track in joined:
        groups.setdefault((track, run), []).append(Body(entries[url].decoded()))
    streams = {"both": {0: 0, 1: 1}, "picture": {0: 0}, "sound": {0: 1}}
    return [(int(run), streams[track], bodies) for (track, run), bodies in groups.items()]


def check_frames(name, joined, entries, frames, check_that, scratch):
    got = [(str(stream), str(run), md5)
           for stream, run, md5 in media_joins.output_frames(runs_of(joined, entries), scratch)]
    want = [tuple(r[1:]) for r in frames if r[0] == name]
    check_that(got == want, f"{name}: the cached bodies decode to the {len(want)} frames of frames.tsv")


def check_joins(folder, entries, check_that):
    good, streams = table(folder / "streams.tsv", JOIN_STREAMS_HEADER)
    check_that(good, "streams.tsv: header " + " ".join(JOIN_STREAMS_HEADER))
    good, parts = table(folder / "parts.tsv", JOIN_PARTS_HEADER)
    check_that(good, "parts.tsv: header " + " ".join(JOIN_PARTS_HEADER))
    good, frames = table(folder / "frames.tsv", FRAMES_HEADER)
    check_that(good, "frames.tsv: header " + " ".join(FRAMES_HEADER))
    wrong = []
    for p in parts:
        e = entries.get(p[2])
        got = "absent" if e is None else "whole" if e.complete else "partial"
        if got != p[3]:
            wrong.append(f"{p[2]}: {got}, listed {p[3]}")
    check_that(not wrong, f"parts read back as listed: {len(parts) - len(wrong)}/{len(parts)}"
                          + "".join("\n        " + w for w in wrong))
    check_window(folder, parts, entries, check_that)
    listed = {r[0] for r in streams}
    check_that({r[0] for r in frames} <= {r[0] for r in streams if r[1] == "mp4"},
               "frames.tsv names only video lines of streams.tsv")
    ffmpeg = shutil.which("ffmpeg")
    with tempfile.TemporaryDirectory() as scratch:
        for name, kind, how, state, present, expected, sha, manifest, cues in streams:
            joined = [p for p in parts if p[0] == name and p[1] in JOINED]
            whole = sum(p[3] == "whole" for p in joined)
            check_that((int(present), int(expected)) == (whole, len(joined)) and
                       (state == "complete") == (whole == len(joined)) and bool(sha) == (state == "complete") and
                       bool(cues) == (kind == "vtt"), f"{name}: {how}, {state}, {present} of {expected} parts whole")
            leading = []
            for p in joined:
                if p[3] != "whole":
                    break
                leading.append(p)
            if state == "complete":
                join = b"".join(entries[p[2]].decoded() for p in joined)
                check_that(hashlib.sha256(join).hexdigest() == sha, f"{name}: join of the cached bodies has its sha256")
            if kind == "vtt" and state == "complete":
                text = "".join(entries[p[2]].decoded().decode() for p in joined)
                check_that(text.count(" --> ") == len(cues.split(",")), f"{name}: one cue per expected time")
            # An incomplete line's frames are those of its first whole segments: what --partial writes.
            usable = joined if state == "complete" else leading if how == "hls" else []
            if ffmpeg and kind == "mp4" and usable:
                check_frames(name, usable, entries, frames, check_that, pathlib.Path(scratch))
    for name in {p[0] for p in parts}:
        if all(p[3] == "absent" for p in parts if p[0] == name and p[1] in JOINED):
            check_that(name not in listed, f"{name}: nothing cached, no line in streams.tsv")


def main():
    data = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "tests/data/streams")
    if not shutil.which("ffmpeg"):
        print("no ffmpeg: joins are not decoded")
    failures = []
    for name in CACHES:
        if (data / name).is_dir():
            print(f"== {name}")
            failures += check(data / name)
    print("all checks passed" if not failures else f"{len(failures)} checks failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
