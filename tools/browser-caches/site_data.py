"""The test site: deterministic bodies, how each is served, and what a harvester should make of it.

Every body comes from a random generator seeded with its path, so a rerun serves the same bytes.
"""

import gzip
import hashlib
import io
import random
import struct
import subprocess
import urllib.parse
import zipfile
import zlib

SEED = 20240613


def rng_for(path):
    return random.Random(f"{SEED}:{path}")


def noise(path, n):
    return rng_for(path).randbytes(n)


# ---- media bodies with real signatures ----

def flv(path, size):
    r = rng_for(path)
    out = bytearray(b"FLV\x01\x05\x00\x00\x00\x09" + b"\x00\x00\x00\x00")
    ts = 0
    while len(out) < size:
        payload = r.randbytes(min(r.randint(300, 1500), max(1, size - len(out) - 15)))
        tag_type = 9 if r.random() < 0.7 else 8
        out += bytes([tag_type]) + len(payload).to_bytes(3, "big") + (ts & 0xFFFFFF).to_bytes(3, "big")
        out += bytes([ts >> 24 & 0xFF]) + b"\x00\x00\x00" + payload
        out += (11 + len(payload)).to_bytes(4, "big")
        ts += 40
    return bytes(out)


def mp4(path, size, brand=b"isom"):
    ftyp = struct.pack(">I4s4sI", 32, b"ftyp", brand, 0x200) + b"isomiso2mp41"
    free = struct.pack(">I4s", 8, b"free")
    mdat_len = size - len(ftyp) - len(free)
    return ftyp + free + struct.pack(">I4s", mdat_len, b"mdat") + noise(path, mdat_len - 8)


def mp3_frames(count):
    # MPEG-1 layer III, 128 kbit/s, 44.1 kHz, mono; zero side info and main data decode as silence.
    frame = b"\xff\xfb\x90\xc4" + bytes(417 - 4)
    return frame * count


def id3(title):
    text = b"\x00" + title.encode("latin-1")
    frame = b"TIT2" + struct.pack(">I", len(text)) + b"\x00\x00" + text
    size = len(frame)
    syncsafe = bytes([(size >> 21) & 0x7F, (size >> 14) & 0x7F, (size >> 7) & 0x7F, size & 0x7F])
    return b"ID3\x03\x00\x00" + syncsafe + frame


def jpeg(path, size):
    head = b"\xff\xd8\xff\xe0" + struct.pack(">H", 16) + b"JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00"
    return head + b"\xff\xfe" + struct.pack(">H", 2 + 8) + b"drovan\x00\x00" + noise(path, size - len(head) - 14) + b"\xff\xd9"


def png(path, width, height):
    r = rng_for(path)
    raw = b"".join(b"\x00" + r.randbytes(width * 3) for _ in range(height))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def gif(path, size):
    head = b"GIF89a" + struct.pack("<HH", 64, 64) + b"\x00\x00\x00"
    return head + noise(path, size - len(head) - 1) + b";"


def swf(path, size):
    return b"FWS\x0a" + struct.pack("<I", size) + noise(path, size - 8)


def riff(path, form, size):
    body = form + noise(path, size - 12)
    return b"RIFF" + struct.pack("<I", len(body)) + body


def zip_archive(path):
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED) as z:
        for i in range(3):
            info = zipfile.ZipInfo(f"part{i}.txt", date_time=(2024, 6, 1, 12, 0, 0))
            z.writestr(info, (f"part {i} of the bundle\n" * 200).encode())
    return buf.getvalue()


def text_lines(path, first, count, prefix="", suffix=""):
    r = rng_for(path)
    words = ["cache", "harvest", "drovan", "media", "entry", "block", "range", "sparse", "body", "key"]
    lines = (prefix + " ".join(r.choice(words) for _ in range(12)) + suffix + "\n" for _ in range(count))
    return (first + "".join(lines)).encode()


# ---- content encodings ----

def encode(body, coding):
    if coding is None:
        return body
    if coding == "gzip":
        return gzip.compress(body, 9, mtime=0)
    tool = {"br": ["brotli", "-c", "-q", "11"], "zstd": ["zstd", "-q", "-19", "-c"]}[coding]
    return subprocess.run(tool, input=body, capture_output=True, check=True).stdout


# ---- the resources ----

class Resource:
    """One URL of the site. `load` tells how the page fetches it: fetch, fetch-omit (no credentials), img, css,
    script, media-full (played to the end), media-partial (abandoned), page."""

    def __init__(self, path, ctype, body, load="fetch", coding=None, host="127.0.0.1", cache=True,
                 mode="normal", cut_at=None, state="complete", status=200, modified="dated", small=False):
        self.path, self.ctype, self.body, self.load = path, ctype, body, load
        self.coding, self.host, self.cache, self.mode = coding, host, cache, mode
        self.cut_at, self.state, self.status, self.small = cut_at, state, status, small
        self.wire = encode(body, coding)
        # Last-Modified in Unix seconds, or None for none; each URL its own, so a reader cannot mix them up.
        if modified == "dated":
            spread = int(hashlib.sha256(f"{host}{path}".encode()).hexdigest()[:8], 16) % (365 * 86400)
            self.last_modified = DATED_FROM + spread
        else:
            self.last_modified = modified

    def modified_column(self):
        """What a harvested file's time should be: the server's Last-Modified, or the time the browser stored the
        response when there is none or it lies in the future."""
        if self.last_modified is None or self.last_modified > FUTURE_AFTER:
            return "stored"
        return str(self.last_modified)

    def url(self, port):
        return f"http://{self.host}:{port}{self.path}"

    def sha256(self):
        return hashlib.sha256(self.body).hexdigest()


LONG_STEM = "long-" + "x" * 190
DATED_FROM = 1685620800   # 2023-06-01 12:00:00 UTC; Last-Modified times fall in the year after it
FUTURE_AFTER = 1893456000  # 2030-01-01: later than any run of the generator
IN_2099 = 4083998400       # 2099-06-01 12:00:00 UTC


def resources():
    mp3_full = mp3_frames(160)  # 66720 bytes, 4.2 s
    rs = [
        Resource("/index.html", "text/html; charset=utf-8", b"", load="page", small=True),
        Resource("/css/site.css", "text/css", text_lines("/css/site.css", "body { margin: 0 }\n", 300, "/* ", " */"),
                 load="css", coding="gzip", small=True),
        Resource("/js/app.js", "application/javascript", text_lines("/js/app.js", "window.appLoaded = 1;\n", 300, "// "),
                 load="script", coding="br", small=True),
        Resource("/api/data.json", "application/json",
                 b'{"items": [' + b",".join(b'"%d"' % i for i in range(3000)) + b"]}", coding="zstd"),
        Resource("/img/icon.svg", "image/svg+xml",
                 b'<svg xmlns="http://www.w3.org/2000/svg" width="8" height="8"><rect width="8" height="8"/></svg>\n'
                 + text_lines("/img/icon.svg", "", 40, "<!-- ", " -->"), load="img", coding="gzip"),
        Resource("/feed.xml", "text/xml", b'<?xml version="1.0"?>\n<feed>' + text_lines("/feed.xml", "", 30, "<item>", "</item>") + b"</feed>\n"),
        Resource("/img/photo.jpg", "image/jpeg", jpeg("/img/photo.jpg", 24000), load="img"),
        Resource("/img/scan.jpeg", "image/jpeg", jpeg("/img/scan.jpeg", 6000), load="img"),
        Resource("/img/logo.png", "image/png", png("/img/logo.png", 40, 30), load="img", small=True),
        Resource("/img/anim.gif", "image/gif", gif("/img/anim.gif", 3000), load="img"),
        Resource("/img/pic.webp", "image/webp", riff("/img/pic.webp", b"WEBPVP8 ", 5000), load="img"),
        Resource("/flash/game.swf", "application/x-shockwave-flash", swf("/flash/game.swf", 30000)),
        Resource("/stream/12345", "video/x-flv", flv("/stream/12345", 40000)),
        Resource("/getaudio?id=7", "audio/mpeg", id3("seven") + mp3_frames(40), load="fetch-omit"),
        Resource("/getaudio?id=8", "audio/mpeg", id3("eight") + mp3_frames(25)),
        Resource("/weird/a%3Ab%7Cc.mp3", "audio/mpeg", id3("weird") + mp3_frames(12)),
        Resource("/%E8%A7%86%E9%A2%91/%E7%89%87%E6%AE%B5.flv", "video/x-flv", flv("/chinese.flv", 20000)),
        Resource("/files/movie.bin", "application/octet-stream", mp4("/files/movie.bin", 30000)),
        Resource("/files/video?id=3", "application/octet-stream", flv("/files/video3", 12000)),
        Resource("/a/clip.flv", "video/x-flv", flv("/a/clip.flv", 18000)),
        Resource("/b/clip.flv", "video/x-flv", flv("/b/clip.flv", 9000)),
        Resource("/media/song.m4a", "audio/mp4", mp4("/media/song.m4a", 15000, b"M4A ")),
        Resource("/media/clip.webm", "video/webm", b"\x1a\x45\xdf\xa3" + noise("/media/clip.webm", 14000)),
        Resource("/media/sound.ogg", "audio/ogg", b"OggS\x00\x02" + noise("/media/sound.ogg", 8000)),
        Resource("/media/tone.wav", "audio/wav", riff("/media/tone.wav", b"WAVEfmt ", 4000)),
        Resource("/media/theme.mid", "audio/midi", b"MThd\x00\x00\x00\x06\x00\x00\x00\x01\x00\x60"
                 + b"MTrk" + struct.pack(">I", 1000) + noise("/media/theme.mid", 1000)),
        Resource("/docs/report.pdf", "application/pdf", b"%PDF-1.4\n" + text_lines("/docs/report.pdf", "", 40, "% ")),
        Resource("/docs/bundle.zip", "application/zip", zip_archive("/docs/bundle.zip")),
        Resource("/docs/readme.txt", "text/plain", text_lines("/docs/readme.txt", "Read me.\n", 20)),
        Resource("/files/con.mp3", "audio/mpeg", id3("con") + mp3_frames(6)),
        Resource("/gallery/", "text/html", b"<!doctype html><title>gallery</title>\n" + text_lines("/gallery/", "", 10)),
        Resource("/pkg/bufio/", "text/html", b"<!doctype html><title>bufio</title>\n" + text_lines("/pkg/bufio/", "", 8),
                 small=True),
        Resource("/", "text/html", b"<!doctype html><title>other site</title>\n" + text_lines("/other/", "", 6),
                 host="localhost"),
        # 204 No Content, cacheable: an entry with headers and no body.
        Resource("/track/pixel.gif", None, b"", status=204, small=True),
        Resource("/files/undated.mp3", "audio/mpeg", id3("undated") + mp3_frames(9), modified=None, small=True),
        Resource("/files/future.flv", "video/x-flv", flv("/files/future.flv", 6000), modified=IN_2099, small=True),
        Resource(f"/long/{LONG_STEM}.gif", "image/gif", gif("/long.gif", 2000), load="img"),
        Resource("/cdn/other-site.png", "image/png", png("/cdn/other-site.png", 20, 20), load="img", host="localhost", small=True),
        Resource("/cdn/other-site.flv", "video/x-flv", flv("/cdn/other-site.flv", 7000), host="localhost"),
        Resource("/api/nocache", "application/json", b'{"fresh": true}\n', cache=False),
        # Played to the end by a media element: Range requests, a complete sparse entry in Chromium.
        Resource("/media/full.mp3", "audio/mpeg", mp3_full, load="media-full", mode="range"),
        # Fetched by a media element that gives up: the server trickles it, the entry stays partial.
        Resource("/media/partial.mp4", "video/mp4", mp4("/media/partial.mp4", 400000), load="media-partial",
                 mode="range-slow", state="incomplete"),
        # The server drops the connection after part of the body: a truncated entry.
        Resource("/media/cut.flv", "video/x-flv", flv("/media/cut.flv", 300000), mode="cut", cut_at=98304,
                 state="incomplete"),
    ]
    return rs


# ---- what a harvester should decide ----

CONTENT_TYPES = {
    "video/x-flv": "flv", "video/mp4": "mp4", "audio/mpeg": "mp3", "application/x-shockwave-flash": "swf",
    "image/jpeg": "jpg", "image/png": "png", "image/gif": "gif", "text/html": "html", "text/css": "css",
    "application/javascript": "js", "text/javascript": "js", "application/json": "json", "image/svg+xml": "svg",
    "application/xml": "xml", "text/xml": "xml", "image/webp": "webp", "audio/mp4": "m4a", "video/webm": "webm",
    "audio/ogg": "ogg", "audio/wav": "wav", "audio/midi": "mid", "application/pdf": "pdf", "application/zip": "zip",
}


def url_path_ending(url):
    segment = urllib.parse.urlsplit(url).path.rsplit("/", 1)[-1]
    return segment.rsplit(".", 1)[-1].lower() if "." in segment else ""


def expected_type(body, ctype, url):
    ending = url_path_ending(url)
    b = body
    if b[:3] == b"FLV":
        return "flv"
    if b[:3] in (b"FWS", b"CWS", b"ZWS"):
        return "swf"
    if b[4:8] == b"ftyp":
        return ending if ending in ("m4a", "m4v", "mov", "3gp") else "mp4"
    if b[:3] == b"\xff\xd8\xff":
        return "jpeg" if ending == "jpeg" else "jpg"
    if b[:3] == b"ID3" or (len(b) > 1 and b[0] == 0xFF and b[1] & 0xE0 == 0xE0):
        return "mp3"
    if b[:8] == b"\x89PNG\r\n\x1a\n":
        return "png"
    if b[:4] == b"GIF8":
        return "gif"
    if b[:4] == b"RIFF":
        form = {b"WEBP": "webp", b"AVI ": "avi", b"WAVE": "wav"}.get(b[8:12])
        if form:
            return form
    if b[:4] == b"MThd":
        return "mid"
    if b[:8] == b"\x30\x26\xb2\x75\x8e\x66\xcf\x11":
        return "wma" if ending == "wma" else "wmv"
    if b[:4] == b".RMF":
        return "rmvb" if ending == "rmvb" else "rm"
    if b[:4] == b"OggS":
        return "ogg"
    if b[:4] == b"\x1a\x45\xdf\xa3":
        return "webm"
    if b[:4] == b"%PDF":
        return "pdf"
    if b[:4] == b"PK\x03\x04":
        return "zip"
    mime = (ctype or "").split(";")[0].strip().lower()
    if mime in CONTENT_TYPES:
        return CONTENT_TYPES[mime]
    return ending


RESERVED = {"CON", "PRN", "AUX", "NUL"} | {f"COM{i}" for i in range(1, 10)} | {f"LPT{i}" for i in range(1, 10)}


def utf16_len(s):
    return len(s.encode("utf-16-le")) // 2


def expected_name(url, kind):
    parts = urllib.parse.urlsplit(url)
    segments = [x for x in parts.path.split("/") if x]
    segment = segments[-1] if segments else ""
    try:
        name = urllib.parse.unquote_to_bytes(segment).decode("utf-8")
    except UnicodeDecodeError:
        name = segment
    name = "".join("_" if c in '<>:"/\\|?*' or ord(c) < 32 else c for c in name)
    name = name.rstrip(". ")
    if not name:
        name = parts.hostname
    if name.split(".", 1)[0].upper() in RESERVED:
        name = "_" + name
    if utf16_len(name) > 150:
        stem, dot, ext = name.rpartition(".")
        ending = dot + ext if dot else ""
        stem = stem if dot else name
        while utf16_len(stem + ending) > 150:
            stem = stem[:-1]
        name = stem + ending
    if kind and not name.lower().endswith("." + kind):
        name += "." + kind
    return name
