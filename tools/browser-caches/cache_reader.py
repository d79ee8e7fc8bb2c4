"""A small, separate reader of the cache formats, used to pick the manifest lines and to check the
committed caches. Written for these test caches only: it trusts them more than a real reader may."""

import gzip
import pathlib
import re
import shutil
import sqlite3
import struct
import subprocess
import tempfile
import zlib


class Entry:
    """One cache entry. `status` is None for an entry that holds no response (Firefox's predictor records);
    `stored` is the Unix time at which the browser stored it."""

    def __init__(self, url, key, status, headers, body, complete, detail, stored=None):
        self.url, self.key, self.status, self.headers = url, key, status, headers
        self.body, self.complete, self.detail, self.stored = body, complete, detail, stored

    def is_response(self):
        return self.status is not None

    def state(self):
        if self.status == 204:
            return "no-body"
        return "complete" if self.complete else "incomplete"

    def header(self, name):
        for line in self.headers:
            k, _, v = line.partition(":")
            if k.strip().lower() == name.lower():
                return v.strip()
        return None

    def full_length(self):
        cr = self.header("Content-Range")
        if cr and "/" in cr:
            return int(cr.rsplit("/", 1)[1])
        cl = self.header("Content-Length")
        return int(cl) if cl is not None else None

    def decoded(self):
        coding = (self.header("Content-Encoding") or "").lower()
        if coding in ("", "identity"):
            return self.body
        if coding in ("gzip", "x-gzip"):
            return gzip.decompress(self.body)
        if coding == "deflate":
            return zlib.decompress(self.body)
        tool = {"br": ["brotli", "-d", "-c"], "zstd": ["zstd", "-d", "-q", "-c"]}[coding]
        return subprocess.run(tool, input=self.body, capture_output=True, check=True).stdout


def chromium_url(key):
    return key.rsplit(" ", 1)[-1]


def response_info(pickle):
    """Flags, header lines and response time (Unix seconds) of Chromium's stored HttpResponseInfo."""
    payload = pickle[4:4 + struct.unpack_from("<I", pickle)[0]]
    at = 0
    flags = struct.unpack_from("<i", payload, at)[0] & 0xFFFFFFFF
    at += 4
    extra = 0
    if flags & 0x80000000:
        extra = struct.unpack_from("<i", payload, at)[0]
        at += 4
    response_time = struct.unpack_from("<q", payload, at + 8)[0] / 1e6 - 11644473600
    at += 16
    if extra & 4:
        at += 8
    n = struct.unpack_from("<i", payload, at)[0]
    raw = payload[at + 4:at + 4 + n].decode("latin-1")
    lines = [x for x in raw.split("\0") if x]
    return flags, lines, response_time


def status_of(lines):
    return int(lines[0].split()[1])


def coverage_complete(ranges, total):
    """ranges: list of (offset, bytes). Returns (body or None, covered bytes)."""
    end = 0
    out = bytearray()
    for off, data in sorted(ranges):
        if off > end:
            return None, end
        out[off:off + len(data)] = data
        end = max(end, off + len(data))
    return (bytes(out[:total]) if total is not None and end >= total else None), end


# ---- Chromium simple ----

def judge_sparse(e, pieces, kind):
    """A media entry cached in pieces by offset: whole only when they cover it from 0 to its length."""
    total = e.full_length()
    e.body, covered = coverage_complete(pieces, total)
    e.complete = e.body is not None
    e.detail = f"sparse, {len(pieces)} {kind}, {covered} of {total} bytes from 0"
    if e.body is None:
        e.body = b"".join(data for _, data in sorted(pieces))[:covered]


def judge_plain(e, flags):
    """A body stored in one run: cut short when the response info says so (TRUNCATED, bit 12)."""
    if flags & (1 << 12):
        e.complete = False
        e.detail = f"truncated flag, {len(e.body)} of {e.full_length()} bytes"
    else:
        e.complete = e.full_length() in (None, len(e.body))


def read_simple(folder):
    folder = pathlib.Path(folder)
    entries = []
    for f in sorted(folder.glob("*_0")):
        d = f.read_bytes()
        magic, flags0, crc0, s0 = struct.unpack_from("<QIII", d, len(d) - 24)
        assert magic == 0xF4FA6F45970D41D8, f
        sha = 32 if flags0 & 2 else 0
        m, version, klen = struct.unpack_from("<QII", d, 0)
        assert m == 0xFCFB6D1BA7725C30 and version == 5, f
        key = d[24:24 + klen].decode()
        s1 = len(d) - 24 - klen - 24 - s0 - sha - 24
        body = d[24 + klen:24 + klen + s1]
        stream0 = d[24 + klen + s1 + 24:24 + klen + s1 + 24 + s0]
        flags, lines, when = response_info(stream0)
        e = Entry(chromium_url(key), key, status_of(lines), lines[1:], body, True, "", when)
        sparse = f.with_name(f.name[:-2] + "_s")
        if sparse.exists():
            s = sparse.read_bytes()
            at = 24 + struct.unpack_from("<I", s, 12)[0]
            ranges = []
            while at + 32 <= len(s):
                rm, off, length = struct.unpack_from("<QQQ", s, at)
                if rm != 0xEB97BF016553676B:
                    break
                ranges.append((off, s[at + 32:at + 32 + length]))
                at += 32 + length
            judge_sparse(e, ranges, "ranges")
        else:
            judge_plain(e, flags)
        entries.append(e)
    return entries


# ---- Chromium blockfile ----

def read_blockfile(folder):
    folder = pathlib.Path(folder)
    files = {}

    def block_file(n):
        if n not in files:
            files[n] = (folder / f"data_{n}").read_bytes()
        return files[n]

    def read_addr(addr, size):
        if addr & 0x70000000 == 0:
            return (folder / f"f_{addr & 0x0FFFFFFF:06x}").read_bytes()[:size]
        data = block_file((addr >> 16) & 0xFF)
        block = struct.unpack_from("<i", data, 12)[0]
        start = 8192 + (addr & 0xFFFF) * block
        return data[start:start + size]

    index = (folder / "index").read_bytes()
    assert struct.unpack_from("<I", index)[0] == 0xC103CAC3
    table_len = struct.unpack_from("<i", index, 28)[0] or 65536
    stores = {}
    for slot in range(table_len):
        addr = struct.unpack_from("<I", index, 368 + 4 * slot)[0]
        while addr:
            rec = read_addr(addr, 256 * (((addr >> 24) & 3) + 1))
            klen = struct.unpack_from("<i", rec, 32)[0]
            key = rec[96:96 + klen].decode()
            sizes = struct.unpack_from("<4i", rec, 40)
            addrs = struct.unpack_from("<4I", rec, 56)
            flags = struct.unpack_from("<I", rec, 72)[0]
            streams = [read_addr(a, n) if n else b"" for a, n in zip(addrs, sizes)]
            stores[key] = (flags, streams)
            addr = struct.unpack_from("<I", rec, 4)[0]
    entries = []
    for key, (flags, streams) in stores.items():
        if flags & 2:
            continue
        rflags, lines, when = response_info(streams[0])
        e = Entry(chromium_url(key), key, status_of(lines), lines[1:], streams[1], True, "", when)
        if flags & 1:
            signature = struct.unpack_from("<q", streams[2])[0]
            ranges = []
            for ck, (cflags, cs) in stores.items():
                prefix = f"Range_{key}:{signature:x}:"
                if not ck.startswith(prefix):
                    continue
                child = int(ck[len(prefix):], 16)
                last_block, last_len = struct.unpack_from("<ii", cs[2], 16)
                bitmap = cs[2][64:]
                for b in range(1024):
                    if bitmap[b // 8] >> (b % 8) & 1:
                        ranges.append((child * 1048576 + b * 1024, cs[1][b * 1024:(b + 1) * 1024]))
                if last_block >= 0 and 0 <= last_len < 1024:
                    ranges.append((child * 1048576 + last_block * 1024,
                                   cs[1][last_block * 1024:last_block * 1024 + last_len]))
            judge_sparse(e, ranges, "blocks")
        else:
            judge_plain(e, rflags)
        entries.append(e)
    return entries


# ---- Firefox cache2 ----

def read_cache2(folder):
    folder = pathlib.Path(folder)
    entries = []
    for f in sorted((folder / "entries").iterdir()):
        d = f.read_bytes()
        m = struct.unpack_from(">I", d, len(d) - 4)[0]
        chunks = (m + 262143) // 262144
        at = m + 4 + 2 * chunks
        version, _, _, last_modified = struct.unpack_from(">IIII", d, at)
        ksize = struct.unpack_from(">I", d, at + 24)[0]
        at += 32
        key = d[at:at + ksize].decode()
        end = len(d) - (8 if version >= 4 else 4)
        parts = d[at + ksize + 1:end].split(b"\0")
        elements = dict(zip(parts[0::2], parts[1::2]))
        url = key.split(",:", 1)[1] if ",:" in key else key[1:]
        if b"response-head" not in elements:
            e = Entry(url, key, None, [], d[:m], True, "", last_modified)
            e.elements = elements
            entries.append(e)
            continue
        head = elements[b"response-head"].decode("latin-1").split("\r\n")
        e = Entry(url, key, status_of(head), [x for x in head[1:] if x], d[:m], True, "", last_modified)
        e.elements = elements
        e.complete = e.full_length() in (None, m)
        if not e.complete:
            e.detail = f"{m} of {e.full_length()} bytes"
        entries.append(e)
    return entries


# ---- Chromium SQL (experimental backend) ----

def sql_shard_count(folder):
    index = (pathlib.Path(folder) / "index").read_bytes()
    assert index.startswith(b"SQLCache"), index
    return int(re.search(rb"[0-9]+", index[8:]).group())


def sql_shards(folder, private, wal=True):
    """Copies each shard into the folder `private` and yields (shard, connection). Opening the cache folder itself
    would roll back a hot journal or checkpoint and delete the -wal there. wal=False leaves the -wal files behind:
    the databases alone, as a reader that ignored the WAL would see them."""
    folder, private = pathlib.Path(folder), pathlib.Path(private)
    for n in range(sql_shard_count(folder)):
        for suffix in ("", "-journal") + (("-wal",) if wal else ()):
            p = folder / f"sqldb{n}{suffix}"
            if p.exists() and (suffix == "" or p.stat().st_size):
                shutil.copyfile(p, private / p.name)
        db = sqlite3.connect(private / f"sqldb{n}")
        try:
            yield n, db
        finally:
            db.close()


def read_sql(folder, wal=True):
    entries = []
    with tempfile.TemporaryDirectory(prefix="drovan-sql-") as private:
        for _, db in sql_shards(folder, private, wal):
            # Without its WAL a shard written less than a checkpoint's worth has no tables at all.
            if not wal and not db.execute("SELECT 1 FROM sqlite_master WHERE name = 'resources'").fetchone():
                continue
            rows = db.execute("SELECT res_id, cache_key, head FROM resources WHERE doomed = 0 AND head IS NOT NULL"
                              " ORDER BY res_id").fetchall()
            for res_id, key, head in rows:
                pieces = db.execute("SELECT start, blob FROM blobs WHERE res_id = ? ORDER BY start",
                                    (res_id,)).fetchall()
                flags, lines, when = response_info(head)
                e = Entry(chromium_url(key), key, status_of(lines), lines[1:], b"", True, "", when)
                if e.status == 206:
                    judge_sparse(e, pieces, "pieces")
                else:
                    body, covered = coverage_complete(pieces, None)
                    e.body = b"".join(data for _, data in pieces)[:covered]
                    judge_plain(e, flags)
                entries.append(e)
    return entries


READERS = {"chromium-simple": read_simple, "chromium-blockfile": read_blockfile, "firefox-cache2": read_cache2,
           "chromium-sql": read_sql, "chromium-sql-wal": read_sql}
