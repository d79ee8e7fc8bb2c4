"""Serves streamed video on 127.0.0.1, lets Chromium (simple and blockfile backends) and Firefox ESR play it
headless with hls.js and dash.js, and copies their caches with a list of the streams each should yield.
With --joins: the streams of media_joins.py, also into Chromium's SQL backend, with frames.tsv.

Usage: make_stream_caches.py OUT_DIR --hls-js DIR --dashjs DIR [--joins] [--port N] [--only NAME,...]
       [--keep-scratch]      DIR: an unpacked npm package (its package/ folder).
"""

import argparse
import hashlib
import json
import pathlib
import shutil
import sys
import tempfile
import threading
import time
import urllib.parse
from email.utils import formatdate
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "browser-caches"))

import cache_reader  # noqa: E402
import make_caches  # noqa: E402
import media  # noqa: E402
import media_joins  # noqa: E402
import check_streams  # noqa: E402

CACHES = ("chromium-simple", "chromium-blockfile", "firefox-cache2")
JOIN_CACHES = ("chromium-simple", "chromium-blockfile", "chromium-sql", "firefox-cache2")
HLS_JS = "dist/hls.min.js"
DASH_JS = "dist/modern/umd/dash.all.min.js"


class Site:
    """What make_caches' browser runners need (`port`, `done`), plus the files and the request log."""

    def __init__(self, port, streams, js, page_name="page.html"):
        self.port = port
        self.origin = f"http://127.0.0.1:{port}"
        self.streams = streams
        listed = [{"key": s.key, "player": s.player, "url": s.entry.quoted(), "pin": s.pin,
                   "stop_after": s.stop_after} for s in streams]
        for row, st in zip(listed, streams):
            if isinstance(st, media_joins.JoinStream):
                row.update(subtitles=st.subtitles, pieces=st.pieces)
        page = (HERE / page_name).read_text(encoding="utf-8")
        page = page.replace("@HLS@", js[0].quoted()).replace("@DASH@", js[1].quoted())
        page = page.replace("@STREAMS@", json.dumps(listed, indent=1, ensure_ascii=False))
        self.page = media.File("/index.html", page.encode(), "max-age=60")
        self.files = {f.path: f for f in [self.page] + list(js) + [f for s in streams for f in s.files]}
        self.log = []
        self.lock = threading.Lock()
        self.done = threading.Event()
        self.report = None

    def url(self, f):
        return self.origin + f.quoted()


def make_handler(s):
    class Handler(BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, fmt, *args):
            pass

        def lookup(self):
            # Only the JSON answer is served by its query too.
            return s.files.get(urllib.parse.unquote(self.path)) or s.files.get(
                urllib.parse.unquote(self.path.split("?")[0]))

        def note(self, status, sent):
            f = self.lookup()
            with s.lock:
                s.log.append({"at": time.time(), "method": self.command,
                              "path": f.path if f else urllib.parse.unquote(self.path.split("?")[0]),
                              "range": self.headers.get("Range") or "", "status": status, "bytes": sent})

        def do_POST(self):
            data = self.rfile.read(int(self.headers.get("Content-Length", "0")))
            if self.path == "/done":
                s.report = json.loads(data or b"{}")
                s.done.set()
            self.note(204, 0)
            self.send_response(204)
            self.send_header("Cache-Control", "no-store")
            self.send_header("Content-Length", "0")
            self.end_headers()

        def do_HEAD(self):
            self.do_GET(head=True)

        def do_GET(self, head=False):
            f = self.lookup()
            if f is None:
                body = b"not here\n"
                self.note(404, len(body))
                self.send_response(404)
                self.send_header("Cache-Control", "no-store")
                self.send_header("Content-Type", "text/plain")
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)
                return
            gzip_ok = "gzip" in (self.headers.get("Accept-Encoding") or "")
            wire = f.wire if gzip_ok or not f.coding else f.body

            def validators():
                self.send_header("Cache-Control", f.cache_control)
                if f.cache_control != "no-store":
                    self.send_header("ETag", f.etag)
                    self.send_header("Last-Modified", formatdate(f.last_modified, usegmt=True))

            if f.cache_control != "no-store" and self.headers.get("If-None-Match") == f.etag:
                self.note(304, 0)
                self.send_response(304)
                validators()
                self.end_headers()
                return
            first, last, status = 0, len(wire) - 1, 200
            rng = self.headers.get("Range")
            if_range = self.headers.get("If-Range")
            fresh = if_range in (None, f.etag, formatdate(f.last_modified, usegmt=True))
            if rng and rng.startswith("bytes=") and "," not in rng and f.coding is None and fresh:
                a, _, b = rng[6:].strip().partition("-")
                if a:
                    first = int(a)
                    last = min(int(b), len(wire) - 1) if b else len(wire) - 1
                else:
                    first = max(0, len(wire) - int(b))
                if first >= len(wire) or last < first:
                    self.note(416, 0)
                    self.send_response(416)
                    self.send_header("Content-Range", f"bytes */{len(wire)}")
                    self.send_header("Content-Length", "0")
                    self.end_headers()
                    return
                status = 206
            part = wire[first:last + 1]
            self.note(status, len(part))
            self.send_response(status)
            self.send_header("Content-Type", f.ctype)
            validators()
            if f.coding and wire is f.wire:
                self.send_header("Content-Encoding", f.coding)
            if f.coding:
                self.send_header("Vary", "Accept-Encoding")
            if f.coding is None:
                self.send_header("Accept-Ranges", "bytes")
            if status == 206:
                self.send_header("Content-Range", f"bytes {first}-{last}/{len(wire)}")
            self.send_header("Content-Length", str(len(part)))
            self.end_headers()
            if head:
                return
            try:
                self.wfile.write(part)
            except (BrokenPipeError, ConnectionResetError):
                self.close_connection = True

    return Handler


def stream_of(s, path):
    for st in s.streams:
        if any(f.path == path for f in st.files):
            return st
    return None


def check_requests(s):
    """What the players fetched, by stream; complaints where they did not do what the case needs."""
    problems = []
    by_stream = {}
    for r in s.log:
        st = stream_of(s, r["path"])
        key = st.key if st else "-"
        by_stream.setdefault(key, []).append(r)
    for key, rows in sorted(by_stream.items()):
        for r in rows:
            print(f"   request {key}: {r['method']} {r['path']}  range={r['range'] or '-'}  {r['status']} "
                  f"{r['bytes']} bytes")
    fetched = {r["path"] for r in s.log}
    for st in s.streams:
        for f in st.unwanted:
            if f.path in fetched:
                problems.append(f"stream {st.key}: {f.path} fetched although the player was pinned")
        for t in st.tracks:
            missing = [f.path for f in t.joined() if f.path not in fetched]
            if st.stop_after is None and missing:
                problems.append(f"{t.name}: never fetched: {', '.join(missing)}")
            if st.stop_after is not None:
                got = [f.path for f in t.joined() if f.path in fetched]
                if len(got) != st.stop_after:
                    problems.append(f"{t.name}: {len(got)} segments fetched, meant {st.stop_after}")
    problems += [f"{r['status']} for {r['path']}" for r in s.log if r["status"] >= 400]
    return problems


def cached_state(e, f):
    """whole / partial / absent as the browser stored `f`; None when the stored bytes are not the served ones."""
    if e is None:
        return "absent"
    body = e.decoded() if e.body is not None else b""
    if e.complete:
        return "whole" if body == f.body else None
    return "partial" if f.body.startswith(body) else None


def write_tables(s, folder, name):
    entries = {e.url: e for e in cache_reader.READERS[name](folder) if e.is_response()}
    problems = []
    parts = ["stream\trole\turl\tcached"]
    rows = ["name\ttype\tstate\tpresent\texpected\tsha256\tmanifest_url"]
    stream_urls = set()
    for st in s.streams:
        for t in st.tracks:
            states = []
            for role, f in t.parts:
                url = s.url(f)
                stream_urls.add(url)
                e = entries.get(url)
                state = cached_state(e, f)
                if state is None:
                    problems.append(f"{url}: stored bytes differ from the served ones ({e.detail})")
                    state = "partial"
                if e is not None and e.detail:
                    print(f"   {state}: {url} ({e.detail})")
                if f.cache_control == "no-store" and state != "absent":
                    problems.append(f"{url}: stored although no-store")
                parts.append("\t".join([t.name, role, url, state]))
                if role in ("init", "segment", "track"):
                    states.append(state)
            if all(x == "absent" for x in states):
                print(f"   {t.name}: nothing of it in the cache, no line")
                continue
            whole = states.count("whole")
            complete = whole == len(states)
            manifest = s.origin + t.manifest
            rows.append("\t".join([t.name, t.kind, "complete" if complete else "incomplete", str(whole),
                                   str(len(states)), hashlib.sha256(t.join()).hexdigest() if complete else "",
                                   manifest]))
    others = sorted(u for u in entries if u not in stream_urls)
    for u in others:
        print(f"   also stored: {u} ({entries[u].state()})")
    (folder / "streams.tsv").write_text("\n".join(rows) + "\n", encoding="utf-8")
    (folder / "parts.tsv").write_text("\n".join(parts) + "\n", encoding="utf-8")
    return rows[1:], problems


def part_rows(t):
    """(role, File, run, track) of each part of an output: the run (discontinuity run or Period) and the track
    (picture, sound, both, text) of what is joined; "-" for playlists, manifests and the JSON answer."""
    where = {}
    for run_no, streams, files in t.runs:
        track = {frozenset({0}): "picture", frozenset({1}): "sound"}.get(frozenset(streams.values()), "both")
        for f in files:
            where[f.path] = (str(run_no), track)
    rows = []
    for role, f in t.parts:
        if role in check_streams.JOINED:
            rows.append((role, f) + where.get(f.path, ("0", "text" if t.kind == "vtt" else "both")))
        else:
            rows.append((role, f, "-", "-"))
    return rows


def write_join_tables(s, folder, name, frame_rows):
    entries = {e.url: e for e in cache_reader.READERS[name](folder) if e.is_response()}
    problems = []
    parts = ["\t".join(check_streams.JOIN_PARTS_HEADER)]
    rows = ["\t".join(check_streams.JOIN_STREAMS_HEADER)]
    frames = ["\t".join(check_streams.FRAMES_HEADER)]
    stream_urls = set()
    for st in s.streams:
        for t in st.tracks:
            states = []
            for role, f, run_no, track in part_rows(t):
                url = s.url(f)
                stream_urls.add(url)
                e = entries.get(url)
                state = cached_state(e, f)
                if state is None:
                    problems.append(f"{url}: stored bytes differ from the served ones ({e.detail})")
                    state = "partial"
                if e is not None and e.detail:
                    print(f"   {state}: {url} ({e.detail})")
                parts.append("\t".join([t.name, role, url, state, run_no, track]))
                if role in check_streams.JOINED:
                    states.append(state)
            if all(x == "absent" for x in states):
                print(f"   {t.name}: nothing of it in the cache, no line")
                continue
            whole = states.count("whole")
            complete = whole == len(states)
            cues = ",".join(f"{a:.3f}-{b:.3f}" for a, b in t.cues) if t.cues else ""
            rows.append("\t".join([t.name, t.kind, t.how, "complete" if complete else "incomplete", str(whole),
                                   str(len(states)), hashlib.sha256(t.join()).hexdigest() if complete else "",
                                   s.origin + t.manifest, cues]))
            frames += [f"{t.name}\t{stream}\t{run_no}\t{md5}" for stream, run_no, md5 in frame_rows.get(t.name, [])]
    for u in sorted(u for u in entries if u not in stream_urls):
        print(f"   also stored: {u} ({entries[u].state()})")
    (folder / "streams.tsv").write_text("\n".join(rows) + "\n", encoding="utf-8")
    (folder / "parts.tsv").write_text("\n".join(parts) + "\n", encoding="utf-8")
    (folder / "frames.tsv").write_text("\n".join(frames) + "\n", encoding="utf-8")
    return rows[1:], problems


def check_join_media(streams, scratch):
    """Each run as served decodes clean; a TS join decodes to the frames of frames.tsv; the WebVTT cues sit at
    the expected times plus one offset. Returns (problems, {output name: frame rows})."""
    problems, frame_rows = [], {}
    for st in streams:
        for t in st.tracks:
            for k, (_, _, files) in enumerate(t.runs):
                path = scratch / f"run-{st.key}-{k}.bin"
                path.write_bytes(b"".join(f.body for f in files))
                said = check_streams.ffmpeg_says(path)
                if said:
                    problems.append(f"{t.name}: run {k} as served: ffmpeg says {said}")
            if t.runs:
                frame_rows[t.name] = media_joins.output_frames(t.runs, scratch)
                counts = {i: sum(1 for r in frame_rows[t.name] if r[0] == i) for i in (0, 1)}
                print(f"   {t.name}: {t.how}, {len(t.runs)} run(s), {counts[0]} pictures, {counts[1]} sound frames")
            if t.runs and t.kind == "mp4" and all(f.path.endswith(".ts") for _, _, fs in t.runs for f in fs):
                path = scratch / f"join-{st.key}.ts"
                path.write_bytes(b"".join(f.body for _, _, fs in t.runs for f in fs))
                decoded = [(stream, md5) for stream, md5 in media_joins.frames(path)]
                if sorted(decoded, key=lambda r: r[0]) != [(r[0], r[2]) for r in frame_rows[t.name]]:
                    problems.append(f"{t.name}: the TS join decodes to other frames than frames.tsv")
            if t.cues:
                served = [c for f in t.joined() for c in media_joins.vtt_cues(f.body.decode())]
                shifts = {round(a - x, 3) for (a, _), (x, _) in zip(served, t.cues)}
                print(f"   {t.name}: {len(served)} cues as served, {sorted(shifts)} s after the expected times")
                if len(served) != len(t.cues) or max(shifts) - min(shifts) > 0.001:
                    problems.append(f"{t.name}: served cues {served} against {t.cues}")
    return problems, frame_rows


def check_joins(streams, scratch):
    """The expected joins, made from the served files, must decode without a word from ffmpeg."""
    problems = []
    for st in streams:
        for t in st.tracks:
            path = scratch / ("join-" + st.key + "-" + t.kind + "." + t.kind)
            path.write_bytes(t.join())
            said = check_streams.ffmpeg_says(path)
            print(f"   join {t.name}: {len(t.join())} bytes, sha256 {hashlib.sha256(t.join()).hexdigest()[:16]}…, "
                  f"ffmpeg: {said or 'clean'}")
            if said:
                problems.append(f"{t.name}: ffmpeg says {said}")
    return problems


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("out")
    ap.add_argument("--port", type=int, default=47832)
    ap.add_argument("--only")
    ap.add_argument("--joins", action="store_true")
    ap.add_argument("--hls-js", required=True, type=pathlib.Path)
    ap.add_argument("--dashjs", required=True, type=pathlib.Path)
    ap.add_argument("--keep-scratch", action="store_true")
    a = ap.parse_args()
    a.only = a.only or ",".join(JOIN_CACHES if a.joins else CACHES)
    out = pathlib.Path(a.out).resolve()
    hls_version = json.loads((a.hls_js / "package.json").read_text())["version"]
    dash_version = json.loads((a.dashjs / "package.json").read_text())["version"]
    # The joins' caches leave the players out: 420 KB a cache that no test reads.
    js_cache = "no-store" if a.joins else "max-age=86400"
    js = [media.File(f"/lib/hls.js-{hls_version}/hls.min.js", (a.hls_js / HLS_JS).read_bytes(), js_cache,
                     gzip_it=True),
          media.File(f"/lib/dashjs-{dash_version}/dash.all.min.js", (a.dashjs / DASH_JS).read_bytes(), js_cache,
                     gzip_it=True)]
    work = pathlib.Path(tempfile.mkdtemp(prefix="drovan-streams-"))
    began = time.time()
    (work / "media").mkdir()
    frame_rows = {}
    if a.joins:
        streams = media_joins.make_streams(work / "media", f"http://127.0.0.1:{a.port}")
        print(f"== media made in {time.time() - began:.1f} s under {work / 'media'}")
        problems, frame_rows = check_join_media(streams, work)
    else:
        streams = media.make_streams(work / "media")
        print(f"== media made in {time.time() - began:.1f} s under {work / 'media'}")
        problems = check_joins(streams, work)
    status = 0
    for p in problems:
        print(f"   PROBLEM: {p}")
        status = 1

    out.mkdir(parents=True, exist_ok=True)
    if not a.joins:
        licences = out / "licences"
        licences.mkdir(exist_ok=True)
        shutil.copy(a.hls_js / "LICENSE", licences / f"hls.js-{hls_version}-LICENSE")
        shutil.copy(a.dashjs / "LICENSE.md", licences / f"dashjs-{dash_version}-LICENSE.md")
        shutil.copy(a.dashjs / (DASH_JS + ".LICENSE.txt"),
                    licences / f"dashjs-{dash_version}-dash.all.min.js.LICENSE.txt")

    s = Site(a.port, streams, js, "page-joins.html" if a.joins else "page.html")
    server = ThreadingHTTPServer(("127.0.0.1", a.port), make_handler(s))
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    for name in a.only.split(","):
        scratch = work / name
        scratch.mkdir()
        s.done.clear()
        s.report = None
        with s.lock:
            s.log.clear()
        started = int(time.time())
        if name in make_caches.SQL_FEATURES:
            finished, how, cache = make_caches.run_chromium(s, scratch, features=make_caches.SQL_FEATURES[name])
        elif name.startswith("chromium"):
            finished, how, cache = make_caches.run_chromium(s, scratch, blockfile=name.endswith("blockfile"))
        else:
            finished, how, cache = make_caches.run_firefox(s, scratch)
        ended = int(time.time()) + 1
        print(f"== {name}: page {'reported' if finished else 'did NOT report'} after {ended - started} s; "
              f"browser ended by {how}")
        for key, what in sorted((s.report or {}).items()):
            print(f"   page {key}: {what}")
        run_problems = check_requests(s)
        if not finished:
            run_problems.append("the page did not report")
        if not cache.is_dir():
            print(f"   PROBLEM: no cache folder at {cache}")
            status = 1
            continue
        dest = out / name
        if dest.exists():
            shutil.rmtree(dest)
        shutil.copytree(cache, dest)
        (dest / "generated.tsv").write_text(f"started\tended\n{started}\t{ended}\n")
        if a.joins:
            rows, table_problems = write_join_tables(s, dest, name, frame_rows)
        else:
            rows, table_problems = write_tables(s, dest, name)
        for row in rows:
            print("   stream " + "  ".join(row.split("\t")[:5]))
        run_problems += table_problems
        run_problems += check_streams.check(dest)
        for p in run_problems:
            print(f"   PROBLEM: {p}")
        if run_problems:
            status = 1
        files = sum(1 for p in dest.rglob("*") if p.is_file())
        print(f"   copied {files} files to {dest}")
    server.shutdown()
    if a.keep_scratch:
        print(f"scratch kept: {work}")
    else:
        shutil.rmtree(work, ignore_errors=True)
    size = sum(p.stat().st_size for p in out.rglob("*") if p.is_file())
    print(f"== {out}: {size} bytes in all; {time.time() - began:.0f} s")
    return status


if __name__ == "__main__":
    sys.exit(main())
