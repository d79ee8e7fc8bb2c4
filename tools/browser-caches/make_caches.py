"""Serves the test site on 127.0.0.1, lets Chromium (simple, blockfile and SQL backends) and Firefox load it
headless, and copies their caches with a manifest of what each should hold.

Usage: make_caches.py OUT_DIR [--port N] [--only KIND,…] [--firefox140 PATH/firefox-esr]
  KIND: chromium-simple, chromium-blockfile, chromium-sql, chromium-sql-wal, firefox-cache2, firefox140-cache2
  (all by default; without --firefox140, firefox140-cache2 is skipped)
"""

import argparse
import json
import os
import pathlib
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
from email.utils import formatdate
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

import cache_reader
import site_data as site

HERE = pathlib.Path(__file__).resolve().parent
KINDS = "chromium-simple,chromium-blockfile,chromium-sql,chromium-sql-wal,firefox-cache2,firefox140-cache2"
# The SQL backend's field trial; its parameters follow as name/value pairs. Shard count left at its default (3).
SQL_FEATURES = {
    "chromium-sql": "DiskCacheBackendExperiment:backend/sql",
    "chromium-sql-wal": "DiskCacheBackendExperiment:backend/sql/SqlDiskCacheWalMode/true",
}
SQL_INDEX = {"chromium-sql": b"SQLCacheTruncate3", "chromium-sql-wal": b"SQLCacheWal3"}


class Site:
    def __init__(self, port):
        self.port = port
        self.resources = site.resources()
        listed = [[r.url(port), r.load, r.small] for r in self.resources if r.load != "page"]
        page = (HERE / "page.html").read_text().replace("@RESOURCES@", json.dumps(listed, indent=1))
        self.by_path = {}
        for r in self.resources:
            if r.load == "page":
                r.body = r.wire = page.encode()
            self.by_path[(r.host, r.path)] = r
        self.log = []
        self.done = threading.Event()
        self.report = None


def make_handler(s):
    class Handler(BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, fmt, *args):
            pass

        def do_POST(self):
            length = int(self.headers.get("Content-Length", "0"))
            data = self.rfile.read(length)
            if self.path == "/done":
                s.report = json.loads(data or b"{}")
                s.done.set()
            self.send_response(204)
            self.send_header("Cache-Control", "no-store")
            self.send_header("Content-Length", "0")
            self.end_headers()

        def do_GET(self):
            host = (self.headers.get("Host") or "").rsplit(":", 1)[0]
            r = s.by_path.get((host, self.path))
            rng = self.headers.get("Range")
            s.log.append((host, self.path, rng or "", self.headers.get("Accept-Encoding", "")))
            if r is None:
                body = b"not here\n"
                self.send_response(404)
                self.send_header("Cache-Control", "no-store")
                self.send_header("Content-Type", "text/plain")
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)
                return
            if r.status == 204:
                # No Content-Length and no Content-Type: a 204 has no body to describe.
                self.send_response(204)
                self.send_header("Cache-Control", "max-age=86400")
                self.send_header("Last-Modified", formatdate(r.last_modified, usegmt=True))
                self.send_header("ETag", '"%s"' % site.hashlib.sha256(b"204" + r.path.encode()).hexdigest()[:16])
                self.end_headers()
                return
            wire = r.wire
            first, last = 0, len(wire) - 1
            status = 200
            if rng and rng.startswith("bytes=") and r.coding is None and r.mode != "cut":
                a, _, b = rng[6:].split(",")[0].partition("-")
                if a:
                    first = int(a)
                    last = min(int(b), len(wire) - 1) if b else len(wire) - 1
                else:
                    first = max(0, len(wire) - int(b))
                if first >= len(wire):
                    self.send_response(416)
                    self.send_header("Content-Range", f"bytes */{len(wire)}")
                    self.send_header("Content-Length", "0")
                    self.end_headers()
                    return
                status = 206
            self.send_response(status)
            self.send_header("Content-Type", r.ctype)
            if r.cache:
                self.send_header("Cache-Control", "max-age=86400")
                if r.last_modified is not None:
                    self.send_header("Last-Modified", formatdate(r.last_modified, usegmt=True))
                self.send_header("ETag", '"%s"' % site.hashlib.sha256(wire).hexdigest()[:16])
            else:
                self.send_header("Cache-Control", "no-store")
            if r.coding:
                self.send_header("Content-Encoding", r.coding)
                self.send_header("Vary", "Accept-Encoding")
            self.send_header("Accept-Ranges", "bytes")
            if r.host != "127.0.0.1":
                self.send_header("Access-Control-Allow-Origin", "*")
            if status == 206:
                self.send_header("Content-Range", f"bytes {first}-{last}/{len(wire)}")
            self.send_header("Content-Length", str(last - first + 1))
            self.end_headers()
            part = wire[first:last + 1]
            try:
                if r.mode == "cut":
                    self.wfile.write(part[:r.cut_at])
                    self.wfile.flush()
                    self.connection.shutdown(socket.SHUT_RDWR)
                    self.close_connection = True
                elif r.mode == "range-slow":
                    for at in range(0, len(part), 16384):
                        self.wfile.write(part[at:at + 16384])
                        self.wfile.flush()
                        time.sleep(0.4)
                else:
                    self.wfile.write(part)
            except (BrokenPipeError, ConnectionResetError):
                self.close_connection = True

    return Handler


def cdp_pipe_command(fd_write, message):
    try:
        os.write(fd_write, json.dumps(message).encode() + b"\0")
    except OSError:
        pass


def wait_exit(proc, seconds):
    try:
        proc.wait(seconds)
        return True
    except subprocess.TimeoutExpired:
        return False


def run_chromium(s, scratch, blockfile=False, features=None, while_running=None):
    """features: the --enable-features value (blockfile=True is the blockfile backend). while_running(cache) is
    called once the page has reported and the browser has been idle a moment, before the browser is closed."""
    user_data = scratch / "profile"
    cache = user_data / "Default" / "Cache" / "Cache_Data"
    args = ["chromium", "--headless", "--no-first-run", "--no-default-browser-check",
            "--disable-background-networking", "--disable-component-update", "--disable-sync", "--disable-gpu",
            "--disable-quic", "--no-sandbox", "--autoplay-policy=no-user-gesture-required",
            "--remote-debugging-pipe", f"--user-data-dir={user_data}"]
    if blockfile:
        features = "DiskCacheBackendExperiment:backend/blockfile"
    if features:
        args.append(f"--enable-features={features}")
    args.append(f"http://127.0.0.1:{s.port}/index.html")
    to_browser_r, to_browser_w = os.pipe()
    from_browser_r, from_browser_w = os.pipe()

    def wire_pipes():
        os.dup2(to_browser_r, 3)
        os.dup2(from_browser_w, 4)

    env = dict(os.environ, HOME=str(scratch / "home"))
    log = open(scratch / "browser.log", "wb")
    proc = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=log, stderr=log, env=env,
                            preexec_fn=wire_pipes, pass_fds=(3, 4))
    os.close(to_browser_r)
    os.close(from_browser_w)
    # Drain what the browser says on the pipe so it never blocks.
    threading.Thread(target=lambda: [None for _ in iter(lambda: os.read(from_browser_r, 65536), b"")],
                     daemon=True).start()
    finished = s.done.wait(90)
    how = "page closed itself"
    if while_running and not wait_exit(proc, 2):
        try:
            while_running(cache)
        except OSError as e:
            # The browser must still be closed below.
            print(f"   copying while the browser ran failed: {e}", file=sys.stderr)
    if not wait_exit(proc, 5):
        cdp_pipe_command(to_browser_w, {"id": 1, "method": "Browser.close"})
        how = "Browser.close"
        if not wait_exit(proc, 30):
            proc.send_signal(signal.SIGTERM)
            how = "SIGTERM"
            if not wait_exit(proc, 30):
                proc.kill()
                how = "killed"
    os.close(to_browser_w)
    log.close()
    return finished, how, cache


FIREFOX_PREFS = {
    "browser.cache.disk.enable": True,
    "browser.cache.disk.parent_directory": None,  # set per run
    "dom.allow_scripts_to_close_windows": True,
    "browser.shell.checkDefaultBrowser": False,
    "browser.startup.page": 0,
    "browser.startup.homepage": "about:blank",
    "browser.startup.homepage_override.mstone": "ignore",
    "startup.homepage_welcome_url": "",
    "startup.homepage_welcome_url.additional": "",
    "browser.aboutwelcome.enabled": False,
    "datareporting.policy.dataSubmissionEnabled": False,
    "datareporting.healthreport.uploadEnabled": False,
    "toolkit.telemetry.reportingpolicy.firstRun": False,
    "app.update.enabled": False,
    "extensions.update.enabled": False,
    "browser.safebrowsing.malware.enabled": False,
    "browser.safebrowsing.phishing.enabled": False,
    "browser.safebrowsing.downloads.enabled": False,
    "network.captive-portal-service.enabled": False,
    "network.connectivity-service.enabled": False,
    "network.prefetch-next": False,
    "network.predictor.enabled": False,
    "network.dns.disablePrefetch": True,
    "network.http.speculative-parallel-limit": 0,
    "browser.places.speculativeConnect.enabled": False,
    "media.autoplay.default": 0,
    "media.autoplay.blocking_policy": 0,
    "browser.tabs.warnOnClose": False,
    "browser.sessionstore.resume_from_crash": False,
}

# Firefox's network predictor (gone from ESR 153, still in ESR 140) keeps what it learns in the HTTP cache.
PREDICTOR_PREFS = {
    "network.predictor.enabled": True,
    "network.predictor.enable-prefetch": True,
    "network.predictor.enable-hover-on-ssl": True,
    "network.predictor.cleaned-up": True,
}


def run_firefox(s, scratch, binary="firefox-esr", small=False):
    profile = scratch / "profile"
    profile.mkdir(parents=True)
    cache_parent = scratch / "cache"
    prefs = dict(FIREFOX_PREFS, **(PREDICTOR_PREFS if small else {}))
    prefs["browser.cache.disk.parent_directory"] = str(cache_parent)
    with open(profile / "user.js", "w") as f:
        for k, v in prefs.items():
            f.write(f"user_pref({json.dumps(k)}, {json.dumps(v)});\n")
    env = dict(os.environ, HOME=str(scratch / "home"), MOZ_CRASHREPORTER_DISABLE="1")
    log = open(scratch / "browser.log", "wb")
    proc = subprocess.Popen([binary, "--headless", "--no-remote", "--profile", str(profile),
                             f"http://127.0.0.1:{s.port}/index.html" + ("#small" if small else "")],
                            stdin=subprocess.DEVNULL, stdout=log, stderr=log, env=env)
    finished = s.done.wait(90)
    how = "page closed itself"
    if not wait_exit(proc, 30):
        proc.send_signal(signal.SIGTERM)
        how = "SIGTERM (cache may be incomplete)"
        if not wait_exit(proc, 30):
            proc.kill()
            how = "killed"
    log.close()
    return finished, how, cache_parent / "cache2"


def reader_of(name):
    return "firefox-cache2" if name.startswith("firefox") else name


def write_manifest(s, folder, name, window, small=False):
    """One line per response the browser stored, in the site's order; complains where the cache disagrees
    with what was served. Entries that hold no response (Firefox's predictor records) get no line."""
    entries = cache_reader.READERS[reader_of(name)](folder)
    for e in entries:
        if not e.is_response():
            print(f"   not a response: {e.key} ({len(e.body)} body bytes; "
                  f"elements {', '.join(k.decode('latin-1') for k in e.elements)})")
    stored = {e.url: e for e in entries if e.is_response()}
    lines = ["url\tname\ttype\tsha256\tstate\tmodified"]
    problems = []
    for r in s.resources:
        if small and not r.small:
            continue
        url = r.url(s.port)
        e = stored.pop(url, None)
        if e is None:
            if r.cache:
                print(f"   not stored by the browser: {url}")
            continue
        if not r.cache:
            problems.append(f"stored although no-store: {url}")
        state = e.state()
        meant = "no-body" if r.status == 204 else r.state
        if state != meant:
            problems.append(f"{url}: {state}, meant to be {meant} ({e.detail})")
        body = e.decoded()
        if state != "incomplete" and body != r.body:
            problems.append(f"{url}: stored body differs from the served one")
        if state == "incomplete" and not r.body.startswith(body):
            problems.append(f"{url}: stored part is not a prefix of the served body")
        if not window[0] <= e.stored <= window[1]:
            problems.append(f"{url}: stored at {e.stored}, outside the run {window}")
        if e.detail or state == "no-body":
            print(f"   {state}: {url} ({e.detail or f'status {e.status}, {len(e.body)} body bytes'})")
        kind = site.expected_type(r.body, r.ctype, url)
        lines.append("\t".join([url, site.expected_name(url, kind), kind, r.sha256(), state, r.modified_column()]))
    problems += [f"unexpected entry {u}" for u in stored]
    (folder / "manifest.tsv").write_text("\n".join(lines) + "\n", encoding="utf-8")
    for p in problems:
        print(f"   PROBLEM: {p}")
    return len(lines) - 1, problems


def listing(folder):
    return ", ".join(f"{p.name} {p.stat().st_size}" for p in sorted(folder.iterdir()) if p.suffix != ".tsv")


def sql_problems(folder, name):
    problems = []
    index = (folder / "index").read_bytes()
    if index != SQL_INDEX[name]:
        problems.append(f"index holds {index!r}, meant {SQL_INDEX[name]!r}: the trial's parameters were not taken")
    if name == "chromium-sql-wal":
        if not any(p.stat().st_size for p in folder.glob("sqldb*-wal")):
            problems.append("no -wal file with frames in the copy")
        # What a reader that ignored the WAL would get, against the databases read with their WAL.
        alone = {e.url for e in cache_reader.read_sql(folder, wal=False) if e.is_response()}
        together = {e.url for e in cache_reader.read_sql(folder) if e.is_response()}
        only_wal = sorted(together - alone)
        print(f"   responses in the databases alone: {len(alone)}; with their -wal: {len(together)}; "
              f"only in a -wal: {len(only_wal)}")
        if not only_wal:
            problems.append("no response lives only in a -wal file")
        if alone - together:
            problems.append(f"responses in a database but gone with its WAL: {sorted(alone - together)}")
    return problems


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("out")
    ap.add_argument("--port", type=int, default=47831)
    ap.add_argument("--only", default=KINDS)
    ap.add_argument("--firefox140", help="an unpacked Firefox ESR 140 (firefox-esr binary) for firefox140-cache2")
    ap.add_argument("--keep-scratch", action="store_true")
    a = ap.parse_args()
    out = pathlib.Path(a.out).resolve()
    s = Site(a.port)
    server = ThreadingHTTPServer(("127.0.0.1", a.port), make_handler(s))
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    status = 0
    for name in a.only.split(","):
        small = name == "firefox140-cache2"
        if small and not a.firefox140:
            print(f"== {name}: skipped, no Firefox ESR 140 given")
            continue
        scratch = pathlib.Path(tempfile.mkdtemp(prefix=f"drovan-{name}-"))
        s.done.clear()
        s.report = None
        s.log.clear()
        # Whole seconds that enclose the run: a stored time read back from the cache lies between them.
        started = int(time.time())
        running_copy = scratch / "copied-while-running"
        if name == "chromium-sql-wal":
            # Copied before the browser closes: at exit it checkpoints every WAL into its database and deletes it.
            def copy_running(c):
                shutil.copytree(c, running_copy.with_name("copying"))
                running_copy.with_name("copying").rename(running_copy)

            finished, how, cache = run_chromium(s, scratch, features=SQL_FEATURES[name], while_running=copy_running)
        elif name in SQL_FEATURES:
            finished, how, cache = run_chromium(s, scratch, features=SQL_FEATURES[name])
        elif name.startswith("chromium"):
            finished, how, cache = run_chromium(s, scratch, blockfile=name.endswith("blockfile"))
        elif small:
            finished, how, cache = run_firefox(s, scratch, a.firefox140, small=True)
        else:
            finished, how, cache = run_firefox(s, scratch)
        ended = int(time.time()) + 1
        print(f"== {name}: page {'reported' if finished else 'did NOT report'}; browser ended by {how}")
        if s.report:
            for url, what in sorted(s.report.items()):
                print(f"   page: {url}  {what}")
        for host, path, rng, enc in s.log:
            print(f"   request: {host}{path}  range={rng or '-'}  accept-encoding={enc}")
        if not cache.is_dir():
            print(f"   no cache folder at {cache}", file=sys.stderr)
            status = 1
            continue
        if name == "chromium-sql-wal":
            shards = range(cache_reader.sql_shard_count(cache))
            modes = [(cache / f"sqldb{n}").read_bytes()[18:20].hex() for n in shards]
            print(f"   after exit the folder held: {listing(cache)}; databases' header bytes 18-19: {', '.join(modes)}")
            if not running_copy.is_dir():
                print("   no copy taken while the browser ran", file=sys.stderr)
                status = 1
                continue
            cache = running_copy
        dest = out / name
        if dest.exists():
            shutil.rmtree(dest)
        shutil.copytree(cache, dest)
        (dest / "generated.tsv").write_text(f"started\tended\n{started}\t{ended}\n")
        count, problems = write_manifest(s, dest, name, (started, ended), small)
        if name in SQL_FEATURES:
            print(f"   copied: {listing(dest)}")
            more = sql_problems(dest, name)
            for p in more:
                print(f"   PROBLEM: {p}")
            problems += more
        files = sum(1 for p in dest.rglob("*") if p.is_file())
        print(f"   copied {files} files to {dest}; manifest lines: {count}")
        if problems or not finished:
            status = 1
        if not a.keep_scratch:
            shutil.rmtree(scratch, ignore_errors=True)
        else:
            print(f"   scratch kept: {scratch}")
    server.shutdown()
    return status


if __name__ == "__main__":
    sys.exit(main())
