"""Serves streamed video on 127.0.0.1, lets Chromium (simple and blockfile backends) and Firefox ESR play it
headless with hls.js and dash.js, and copies their caches with a list of the streams each should yield.

Usage: make_stream_caches.py OUT_DIR --hls-js DIR --dashjs DIR [--port N] [--only NAME,...] [--keep-scratch]
       DIR: an unpacked npm package (its package/ folder).
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
import check_streams  # noqa: E402

CACHES = ("chromium-simple", "chromium-blockfile", "firefox-cache2")
HLS_JS = "dist/hls.min.js"
DASH_JS = "dist/modern/umd/dash.all.min.js"


class Site:
    """What make_caches' browser runners need (`port`, `done`), plus the files and the request log."""

    def __init__(self, port, streams, js):
        self.port = port
        self.origin = f"http://127.0.0.1:{port}"
        self.streams = streams
        listed = [{"key": s.key, "player": s.player, "url": s.entry.quoted(), "pin": s.pin,
                   "stop_after": s.stop_after} for s in streams]
        page = (HERE / "page.html").read_text(encoding="utf-8")
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

        def note(self, status, sent):
            with s.lock:
                s.log.append({"at": time.time(), "method": self.command,
                              "path": urllib.parse.unquote(self.path.split("?")[0]),
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
            f = s.files.get(urllib.parse.unquote(self.path.split("?")[0]))
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
    ap.add_argument("--only", default=",".join(CACHES))
    ap.add_argument("--hls-js", required=True, type=pathlib.Path)
    ap.add_argument("--dashjs", required=True, type=pathlib.Path)
    ap.add_argument("--keep-scratch", action="store_true")
    a = ap.parse_args()
    out = pathlib.Path(a.out).resolve()
    hls_version = json.loads((a.hls_js / "package.json").read_text())["version"]
    dash_version = json.loads((a.dashjs / "package.json").read_text())["version"]
    js = [media.File(f"/lib/hls.js-{hls_version}/hls.min.js", (a.hls_js / HLS_JS).read_bytes(),
                     "max-age=86400", gzip_it=True),
          media.File(f"/lib/dashjs-{dash_version}/dash.all.min.js", (a.dashjs / DASH_JS).read_bytes(),
                     "max-age=86400", gzip_it=True)]
    work = pathlib.Path(tempfile.mkdtemp(prefix="drovan-streams-"))
    began = time.time()
    (work / "media").mkdir()
    streams = media.make_streams(work / "media")
    print(f"== media made in {time.time() - began:.1f} s under {work / 'media'}")
    status = 0
    problems = check_joins(streams, work)
    for p in problems:
        print(f"   PROBLEM: {p}")
        status = 1

    out.mkdir(parents=True, exist_ok=True)
    licences = out / "licences"
    licences.mkdir(exist_ok=True)
    shutil.copy(a.hls_js / "LICENSE", licences / f"hls.js-{hls_version}-LICENSE")
    shutil.copy(a.dashjs / "LICENSE.md", licences / f"dashjs-{dash_version}-LICENSE.md")
    shutil.copy(a.dashjs / (DASH_JS + ".LICENSE.txt"), licences / f"dashjs-{dash_version}-dash.all.min.js.LICENSE.txt")

    s = Site(a.port, streams, js)
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
        if name.startswith("chromium"):
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
