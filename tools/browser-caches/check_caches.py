"""Checks committed browser caches against their manifests and against the format facts the readers rely on.

Usage: check_caches.py [DATA_DIR]   (default tests/data). Prints one block per cache; exit status 1 on a mismatch.
"""

import hashlib
import pathlib
import struct
import sys
import tempfile
import zlib
from email.utils import parsedate_to_datetime

import cache_reader


def super_fast_hash(data):
    def s8(b):
        return b - 256 if b >= 128 else b

    n = len(data)
    h = n & 0xFFFFFFFF
    if n == 0:
        return 0
    rem = n & 3
    at = 0
    for _ in range(n >> 2):
        h = (h + (data[at] | data[at + 1] << 8)) & 0xFFFFFFFF
        tmp = (((data[at + 2] | data[at + 3] << 8) << 11) ^ h) & 0xFFFFFFFF
        h = ((h << 16) ^ tmp) & 0xFFFFFFFF
        at += 4
        h = (h + (h >> 11)) & 0xFFFFFFFF
    if rem == 3:
        h = (h + (data[at] | data[at + 1] << 8)) & 0xFFFFFFFF
        h ^= (h << 16) & 0xFFFFFFFF
        h ^= (s8(data[at + 2]) << 18) & 0xFFFFFFFF
        h = (h + (h >> 11)) & 0xFFFFFFFF
    elif rem == 2:
        h = (h + (data[at] | data[at + 1] << 8)) & 0xFFFFFFFF
        h ^= (h << 11) & 0xFFFFFFFF
        h = (h + (h >> 17)) & 0xFFFFFFFF
    elif rem == 1:
        h = (h + s8(data[at])) & 0xFFFFFFFF
        h ^= (h << 10) & 0xFFFFFFFF
        h = (h + (h >> 1)) & 0xFFFFFFFF
    h ^= (h << 3) & 0xFFFFFFFF
    h = (h + (h >> 5)) & 0xFFFFFFFF
    h ^= (h << 4) & 0xFFFFFFFF
    h = (h + (h >> 17)) & 0xFFFFFFFF
    h ^= (h << 25) & 0xFFFFFFFF
    h = (h + (h >> 6)) & 0xFFFFFFFF
    return h


assert super_fast_hash(b"hello world") == 2794219650
assert super_fast_hash(b"hello w\xab") == 615571198
assert super_fast_hash(b"hello worl\xab") == 3224633008


def facts_simple(folder, say):
    index = (folder / "index").read_bytes()
    say(len(index) == 24 and struct.unpack_from("<QI", index) == (0xFCFB6D1BA7725C30, 9), "fake index: 24 bytes, magic, version 9")
    names = sorted(p.name for p in folder.glob("*_0"))
    good = 0
    for name in names:
        d = (folder / name).read_bytes()
        _, version, klen, khash = struct.unpack_from("<QIII", d)
        key = d[24:24 + klen]
        eof_magic, flags, _, s0 = struct.unpack_from("<QIII", d, len(d) - 24)
        sha_name = hashlib.sha1(key).digest()[:8][::-1].hex()
        good += (version == 5 and khash == super_fast_hash(key) and flags == 3 and sha_name == name[:-2]
                 and d[len(d) - 56:len(d) - 24] == hashlib.sha256(key).digest())
    say(good == len(names), f"_0 files: version 5, key hash, EOF0 flags 3, SHA-256 of key, name from SHA-1: {good}/{len(names)}")
    sparse = sorted(folder.glob("*_s"))
    say(all(struct.unpack_from("<I", p.read_bytes(), 8)[0] == 9 for p in sparse), f"_s files: version 9 ({len(sparse)})")
    say(not list(folder.glob("*_1")), "no _1 files")
    real = (folder / "index-dir" / "the-real-index").read_bytes()
    count = struct.unpack_from("<Q", real, 8 + 12)[0]
    say(count == len(names), f"the-real-index holds {count} entries for {len(names)} _0 files")


def facts_blockfile(folder, say):
    index = (folder / "index").read_bytes()
    magic, version, entries, _, last_file, this_id, _, table_len, crash = struct.unpack_from("<IIiiiiIii", index)
    say(magic == 0xC103CAC3 and version == 0x30000, "index magic and version 3.0")
    say(len(index) == 368 + 4 * table_len, f"index: table_len {table_len}, {len(index)} bytes")
    say(crash == 0, f"index: crash {crash} (closed cleanly), num_entries {entries}, last_file {last_file}")
    for n in range(4):
        d = (folder / f"data_{n}").read_bytes()
        m, v, this_file, _, size = struct.unpack_from("<IIhhi", d)
        say(m == 0xC104CAC3 and v == 0x20000 and this_file == n and size == (36, 256, 1024, 4096)[n],
            f"data_{n}: magic, version 2.0, block size {size}")
    data0 = (folder / "data_0").read_bytes()
    dirty = [struct.unpack_from("<i", data0, at + 28)[0] for at in range(8192, len(data0), 36)
             if struct.unpack_from("<I", data0, at + 24)[0]]
    say(all(x == 0 for x in dirty), f"rankings nodes: {len(dirty)}, none dirty")
    externals = sorted(p.name for p in folder.glob("f_*"))
    say(len(externals) == last_file, f"{len(externals)} external files f_…, last_file {last_file}")


def facts_cache2(folder, say, want_version=4):
    files = sorted((folder / "entries").iterdir())
    good = 0
    for f in files:
        d = f.read_bytes()
        m = struct.unpack_from(">I", d, len(d) - 4)[0]
        at = m + 4 + 2 * ((m + 262143) // 262144)
        version, ksize = struct.unpack_from(">I", d, at)[0], struct.unpack_from(">I", d, at + 24)[0]
        key = d[at + 32:at + 32 + ksize]
        # Version 4 ends its elements with a u32 4; version 3 ends them with a NUL, right before M.
        end = struct.unpack_from(">I", d, len(d) - 8)[0] == 4 if want_version >= 4 else d[len(d) - 5] == 0
        good += version == want_version and end and hashlib.sha1(key).hexdigest().upper() == f.name
    ending = "trailer 4" if want_version >= 4 else "no trailer"
    say(good == len(files), f"entries: version {want_version}, {ending}, name = SHA-1 of key: {good}/{len(files)}")
    say(not (folder / "index").exists(), "no index file" if not (folder / "index").exists() else "an index file")
    doomed = sorted((folder / "doomed").iterdir()) if (folder / "doomed").is_dir() else []
    for f in doomed:
        d = f.read_bytes()
        m = struct.unpack_from(">I", d, len(d) - 4)[0] if len(d) >= 4 else None
        print(f"        doomed/{f.name}: {len(d)} bytes, metadata offset {m:#x}"
              f"{'' if m is not None and m <= len(d) - 4 else ' (past the end: no metadata)'}")
    say(True, f"doomed files (a reader skips them): {len(doomed)}")


def facts_cache2_v3(folder, say):
    facts_cache2(folder, say, 3)


SQL_SCHEMA = [
    "CREATE TABLE resources(res_id INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT,last_used INTEGER NOT NULL,"
    "hints INTEGER NOT NULL,body_end INTEGER NOT NULL,bytes_usage INTEGER NOT NULL,doomed INTEGER NOT NULL,"
    "check_sum INTEGER NOT NULL,cache_key_hash INTEGER NOT NULL,cache_key TEXT NOT NULL,head BLOB)",
    "CREATE TABLE sqlite_sequence(name,seq)",
    "CREATE TABLE blobs(blob_id INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT,res_id INTEGER NOT NULL,"
    "start INTEGER NOT NULL,end INTEGER NOT NULL,check_sum INTEGER NOT NULL,blob BLOB NOT NULL)",
    "CREATE INDEX index_resources_cache_key_hash_doomed ON resources(cache_key_hash, doomed)",
    "CREATE INDEX index_live_resources_last_used_bytes_usage ON resources(last_used, bytes_usage) WHERE doomed=0",
    "CREATE INDEX index_live_resources_hints ON resources(hints) WHERE hints!=0 AND doomed=0",
    "CREATE UNIQUE INDEX index_blobs_res_id_start ON blobs(res_id, start)",
    "CREATE TABLE meta(key LONGVARCHAR NOT NULL UNIQUE PRIMARY KEY, value LONGVARCHAR)",
]


def i32(x):
    return x - (1 << 32) if x & 0x80000000 else x


def sql_check_sum(data, key_hash):
    # CRC-32 of the bytes, continued over the key hash (u32 big-endian).
    return i32(zlib.crc32(struct.pack(">I", key_hash & 0xFFFFFFFF), zlib.crc32(data)))


def wal_frames(data):
    """(frames, frames of the current salt, commit frames) of a -wal file; other salts are left from before a
    checkpoint and SQLite ignores them."""
    salts = data[16:24]
    frames = current = commits = 0
    for at in range(32, len(data) - 4096 - 24 + 1, 4096 + 24):
        frames += 1
        if data[at + 8:at + 16] == salts:
            current += 1
            commits += struct.unpack_from(">I", data, at + 4)[0] != 0
    return frames, current, commits


def facts_sql(folder, say, wal=False):
    index = (folder / "index").read_bytes()
    meant = b"SQLCacheWal3" if wal else b"SQLCacheTruncate3"
    say(index == meant, f"index: {index.decode('latin-1')} (journal mode and shard count, no terminator)")
    count = cache_reader.sql_shard_count(folder)
    names = sorted(p.name for p in folder.iterdir() if p.name.startswith("sqldb"))
    journals = [f"sqldb{n}{'-wal' if wal else '-journal'}" for n in range(count)]
    say(names == sorted([f"sqldb{n}" for n in range(count)] + journals),
        f"files: {', '.join(names)} (no -shm, no {'-journal' if wal else '-wal'})")
    heads = [(folder / f"sqldb{n}").read_bytes()[:100] for n in range(count)]
    mode = b"\x02\x02" if wal else b"\x01\x01"
    say(all(h[:16] == b"SQLite format 3\0" and struct.unpack_from(">H", h, 16)[0] == 4096 and h[18:20] == mode
            for h in heads), f"databases: SQLite 3, page size 4096, header bytes 18-19 {mode.hex(' ')}")
    sizes = [(folder / f"sqldb{n}").stat().st_size for n in range(count)]
    if wal:
        print(f"        database sizes {sizes}: {sum(s // 4096 for s in sizes)} pages in all")
        good = 0
        for n in range(count):
            d = (folder / journals[n]).read_bytes()
            magic, _, page = struct.unpack_from(">III", d)
            frames, current, commits = wal_frames(d)
            print(f"        {journals[n]}: {len(d)} bytes, {frames} frames, {current} of the current salt, "
                  f"{commits} commits")
            good += magic in (0x377F0682, 0x377F0683) and page == 4096 and current > 0
        say(good == count, f"-wal files: WAL magic, page size 4096, frames of the current salt: {good}/{count}")
    else:
        say(all((folder / j).stat().st_size == 0 for j in journals), "-journal files: all empty (no hot journal)")
    rows = doomed = pending = bad = 0
    with tempfile.TemporaryDirectory(prefix="drovan-check-") as private:
        for n, db in cache_reader.sql_shards(folder, private):
            schema = [s for (s,) in db.execute("SELECT sql FROM sqlite_master WHERE sql IS NOT NULL ORDER BY rowid")]
            vacuum = db.execute("PRAGMA auto_vacuum").fetchone()[0]
            meta = dict(db.execute("SELECT key, value FROM meta"))
            live = db.execute("SELECT count(*), total(bytes_usage) FROM resources WHERE doomed = 0").fetchone()
            say(schema == SQL_SCHEMA and vacuum == 2 and meta == {
                "version": "8", "last_compatible_version": "8", "mmap_status": "-1", "SharedCacheEnabled": "0",
                "EntryCount": str(live[0]), "TotalSize": str(int(live[1]))},
                f"sqldb{n}: schema version 8 as listed, incremental auto-vacuum, meta EntryCount {live[0]} and "
                f"TotalSize {int(live[1])} match its rows")
            for res_id, hints, body_end, usage, gone, check_sum, key_hash, key, head in db.execute(
                    "SELECT res_id, hints, body_end, bytes_usage, doomed, check_sum, cache_key_hash, cache_key, head"
                    " FROM resources"):
                rows += 1
                doomed += gone != 0
                pending += head is None
                k = key.encode()
                ok = (key_hash == i32(super_fast_hash(k)) and super_fast_hash(k) % count == n
                      and check_sum == sql_check_sum(head or b"", key_hash) and key.startswith("1/0/_dk_")
                      and usage == body_end + len(head or b"") + len(k))
                end = 0
                for start, stop, piece_sum, blob in db.execute(
                        "SELECT start, end, check_sum, blob FROM blobs WHERE res_id = ? ORDER BY start", (res_id,)):
                    ok = (ok and stop - start == len(blob) and start >= end
                          and piece_sum == sql_check_sum(blob, key_hash))
                    end = stop
                bad += not (ok and end == body_end)
    say(bad == 0, f"rows: key hash (and shard = hash mod {count}), check_sum of head and of every piece, "
                  f"bytes_usage, pieces in order ending at body_end: {rows - bad}/{rows}")
    say(doomed == 0 and pending == 0, f"rows doomed: {doomed}; rows with no head (being written): {pending}")
    if wal:
        alone = {e.url for e in cache_reader.read_sql(folder, wal=False) if e.is_response()}
        together = {e.url for e in cache_reader.read_sql(folder) if e.is_response()}
        say(bool(together - alone) and not alone - together,
            f"responses in the databases alone: {len(alone)}; with their -wal: {len(together)}; "
            f"only in a -wal: {len(together - alone)}")


def facts_sql_wal(folder, say):
    facts_sql(folder, say, wal=True)


FACTS = {"chromium-simple": facts_simple, "chromium-blockfile": facts_blockfile, "chromium-sql": facts_sql,
         "chromium-sql-wal": facts_sql_wal, "firefox-cache2": facts_cache2, "firefox140-cache2": facts_cache2_v3}
READER = {"firefox140-cache2": "firefox-cache2"}
HEADER = ["url", "name", "type", "sha256", "state", "modified"]
NOT_CACHE = {"manifest.tsv", "generated.tsv"}


def non_responses(records, say):
    """Entries that hold no response: Firefox's predictor records. Checks their shape and prints their keys."""
    for e in records:
        print(f"        {e.key}: {len(e.body)} body bytes, elements "
              + ", ".join(k.decode("latin-1") for k in e.elements))
    good = sum(1 for e in records if not e.body and e.key.startswith("~predictor-origin,:")
               and all(k.startswith(b"predictor::") for k in e.elements))
    say(good == len(records), f"entries that are no response: {len(records)}, each a predictor record with no "
                              f"body and only predictor:: elements: {good}/{len(records)}")


def check(folder):
    failures = []

    def say(ok, text):
        print(f"   {'ok  ' if ok else 'FAIL'} {text}")
        if not ok:
            failures.append(text)

    files = [p for p in folder.rglob("*") if p.is_file() and p.name not in NOT_CACHE]
    blobs = [p.read_bytes() for p in files]
    lines = (folder / "manifest.tsv").read_text(encoding="utf-8").splitlines()
    rows = [line.split("\t") for line in lines[1:]]
    print(f"== {folder.name}: {len(files)} files, {sum(len(b) for b in blobs)} bytes, {len(rows)} manifest lines")
    say(lines[0].split("\t") == HEADER and all(len(r) == len(HEADER) for r in rows),
        f"manifest header {' '.join(HEADER)}, every line {len(HEADER)} fields")
    window = (folder / "generated.tsv").read_text().splitlines()
    say(window[0] == "started\tended", "generated.tsv: header started, ended")
    started, ended = (int(x) for x in window[1].split("\t"))
    FACTS[folder.name](folder, say)
    read = cache_reader.READERS[READER.get(folder.name, folder.name)](folder)
    records = [e for e in read if not e.is_response()]
    if records or folder.name.startswith("firefox"):
        non_responses(records, say)
    entries = {e.url: e for e in read if e.is_response()}
    say(len(entries) == len(rows), f"{len(entries)} responses read, {len(rows)} manifest lines")
    outside = [e.url for e in entries.values() if not started <= e.stored <= ended]
    say(not outside, f"every response stored between {started} and {ended} ({ended - started} s): "
                     f"{len(entries) - len(outside)}/{len(entries)}")
    bad = 0
    for url, name, kind, sha, state, modified in rows:
        found = any(url.encode() in b for b in blobs)
        e = entries.get(url)
        if not found or e is None:
            say(False, f"{url} not in the cache")
            bad += 1
            continue
        got = e.state()
        body_ok = hashlib.sha256(e.decoded()).hexdigest() == sha if got != "incomplete" else True
        if got != state or not body_ok:
            say(False, f"{url}: {got}, manifest says {state}; decoded body {'matches' if body_ok else 'differs'}")
            bad += 1
        sent = e.header("Last-Modified")
        sent = int(parsedate_to_datetime(sent).timestamp()) if sent else None
        if modified == "stored":
            modified_ok = sent is None or sent > ended
        else:
            modified_ok = sent == int(modified)
        if not modified_ok:
            say(False, f"{url}: stored Last-Modified {sent}, manifest says {modified}")
            bad += 1
    say(bad == 0, f"manifest lines found in the files and read back, state, decoded SHA-256 and Last-Modified as "
                  f"listed: {len(rows) - bad}/{len(rows)}")
    return failures


def main():
    data = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "tests/data")
    failures = []
    for name in FACTS:
        if (data / name).is_dir():
            failures += check(data / name)
    print(f"{'all checks passed' if not failures else str(len(failures)) + ' checks failed'}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
