"""Checks committed browser caches against their manifests and against the format facts the readers rely on.

Usage: check_caches.py [DATA_DIR]   (default tests/data). Prints one block per cache; exit status 1 on a mismatch.
"""

import hashlib
import pathlib
import struct
import sys

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


def facts_cache2(folder, say):
    files = sorted((folder / "entries").iterdir())
    good = 0
    for f in files:
        d = f.read_bytes()
        m = struct.unpack_from(">I", d, len(d) - 4)[0]
        at = m + 4 + 2 * ((m + 262143) // 262144)
        version, ksize = struct.unpack_from(">I", d, at)[0], struct.unpack_from(">I", d, at + 24)[0]
        key = d[at + 32:at + 32 + ksize]
        trailer = struct.unpack_from(">I", d, len(d) - 8)[0]
        good += version == 4 and trailer == 4 and hashlib.sha1(key).hexdigest().upper() == f.name
    say(good == len(files), f"entries: version 4, trailer 4, name = SHA-1 of key: {good}/{len(files)}")
    say(not (folder / "index").exists(), "no index file" if not (folder / "index").exists() else "an index file")


FACTS = {"chromium-simple": facts_simple, "chromium-blockfile": facts_blockfile, "firefox-cache2": facts_cache2}


def check(folder):
    failures = []

    def say(ok, text):
        print(f"   {'ok  ' if ok else 'FAIL'} {text}")
        if not ok:
            failures.append(text)

    files = [p for p in folder.rglob("*") if p.is_file() and p.name != "manifest.tsv"]
    blobs = [p.read_bytes() for p in files]
    rows = [line.split("\t") for line in (folder / "manifest.tsv").read_text(encoding="utf-8").splitlines()[1:]]
    print(f"== {folder.name}: {len(files)} files, {sum(len(b) for b in blobs)} bytes, {len(rows)} manifest lines")
    FACTS[folder.name](folder, say)
    entries = {e.url: e for e in cache_reader.READERS[folder.name](folder)}
    say(len(entries) == len(rows), f"{len(entries)} entries read, {len(rows)} manifest lines")
    bad = 0
    for url, name, kind, sha, state in rows:
        found = any(url.encode() in b for b in blobs)
        e = entries.get(url)
        if not found or e is None:
            say(False, f"{url} not in the cache")
            bad += 1
            continue
        got = "complete" if e.complete else "incomplete"
        body_ok = hashlib.sha256(e.decoded()).hexdigest() == sha if e.complete else True
        if got != state or not body_ok:
            say(False, f"{url}: {got}, manifest says {state}; decoded body {'matches' if body_ok else 'differs'}")
            bad += 1
    say(bad == 0, f"manifest lines found in the files and read back, state and decoded SHA-256 as listed: "
                  f"{len(rows) - bad}/{len(rows)}")
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
