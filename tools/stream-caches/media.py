"""The streams: tiny media made with Debian's ffmpeg, cut the way each kind of player fetches it, and what a
harvester should make of each cached stream."""

import gzip
import hashlib
import pathlib
import re
import struct
import subprocess
import urllib.parse

# Segments and tracks live long, playlists and manifests briefly: what sites commonly send.
LONG = "max-age=31536000"
SHORT = "max-age=2"
# Every Last-Modified lies in spring 2024; each URL gets its own.
MODIFIED_BASE = 1709280000

CTYPES = {".m3u8": "application/vnd.apple.mpegurl", ".mpd": "application/dash+xml", ".ts": "video/mp2t",
          ".m4s": "video/mp4", ".mp4": "video/mp4", ".js": "text/javascript", ".html": "text/html; charset=utf-8"}


class File:
    """One URL the server answers. `path` is the decoded URL path; `wire` is what goes out (gzip for the
    players' code), `body` the bytes a harvester wants."""

    def __init__(self, path, body, cache_control, ctype=None, gzip_it=False):
        self.path, self.body, self.cache_control = path, body, cache_control
        self.ctype = ctype or CTYPES[pathlib.PurePosixPath(path).suffix]
        self.coding = "gzip" if gzip_it else None
        self.wire = gzip.compress(body, 9, mtime=0) if gzip_it else body
        self.etag = '"%s"' % hashlib.sha256(self.wire).hexdigest()[:16]
        self.last_modified = MODIFIED_BASE + int(hashlib.sha256(path.encode()).hexdigest()[:8], 16) % (86400 * 90)

    def quoted(self):
        return urllib.parse.quote(self.path, safe="/")


class Track:
    """One file a harvester should write. `parts` are (role, File) in join order after the playlists:
    playlists/manifests first, then init, segments or the track file."""

    def __init__(self, name, kind, manifest, parts):
        self.name, self.kind, self.manifest, self.parts = name, kind, manifest, parts

    def joined(self):
        return [f for role, f in self.parts if role in ("init", "segment", "track")]

    def join(self):
        return b"".join(f.body for f in self.joined())


class Stream:
    """What the page plays: `player` is hls or dash; `pin` picks the one rendition hls.js may load;
    `stop_after` stops loading after that many segments."""

    def __init__(self, key, player, entry, tracks, files, pin=None, stop_after=None, unwanted=()):
        self.key, self.player, self.entry, self.tracks, self.files = key, player, entry, tracks, files
        self.pin, self.stop_after, self.unwanted = pin, stop_after, list(unwanted)


def run(args, cwd):
    subprocess.run(args, cwd=cwd, check=True, stdin=subprocess.DEVNULL)


def source(work, name, frequency, video_kbit=60):
    """8 s of picture, a sine a little shorter: with AAC's priming frame an 8 s sound would spill a sliver
    into a fifth DASH chunk that no manifest lists. Hue and pitch follow the frequency, so that no two
    streams share a segment's bytes."""
    out = work / f"src-{name}.mp4"
    run(["ffmpeg", "-v", "error", "-y", "-fflags", "+bitexact",
         "-f", "lavfi", "-i", "testsrc2=size=160x90:rate=10:duration=8",
         "-f", "lavfi", "-i", f"sine=frequency={frequency}:duration=7.9:sample_rate=48000",
         "-vf", f"hue=h={frequency % 360}", "-c:v", "libx264", "-threads", "1", "-profile:v", "baseline",
         "-pix_fmt", "yuv420p", "-g", "20", "-keyint_min", "20", "-sc_threshold", "0", "-b:v", f"{video_kbit}k",
         "-c:a", "aac", "-b:a", "32k", "-ac", "1", "-flags", "+bitexact", "-map_metadata", "-1", out.name], work)
    return out


def hls(work, src, folder, fmp4=False):
    out = work / folder
    out.mkdir(parents=True)
    args = ["ffmpeg", "-v", "error", "-i", str(src), "-c", "copy", "-fflags", "+bitexact", "-f", "hls",
            "-hls_time", "2", "-hls_list_size", "0", "-hls_playlist_type", "vod"]
    if fmp4:
        args += ["-hls_segment_type", "fmp4", "-hls_fmp4_init_filename", "init.mp4",
                 "-hls_segment_filename", "fileSequence%d.m4s", "prog_index.m3u8"]
    else:
        args += ["-hls_segment_filename", "seg_%03d.ts", "index.m3u8"]
    run(args, out)
    return out


def playlist_uris(text):
    """Init (from #EXT-X-MAP) and segment URIs of a media playlist, in order."""
    init = re.search(r'#EXT-X-MAP:URI="([^"]+)"', text)
    segments = [line.strip() for line in text.splitlines() if line.strip() and not line.startswith("#")]
    return (init.group(1) if init else None), segments


def boxes(data):
    at, out = 0, []
    while at + 8 <= len(data):
        size, kind = struct.unpack_from(">I4s", data, at)
        out.append((kind.decode("latin-1"), at, size))
        at += size
    return out


def avc_codec(init):
    at = init.index(b"avcC") + 4
    return "avc1.%02x%02x%02x" % tuple(init[at + 1:at + 4])


def hls_ts(work, src, url_folder, playlist_cache=SHORT):
    out = hls(work, src, url_folder.strip("/").replace("/", "_"))
    text = (out / "index.m3u8").read_text()
    playlist = File(url_folder + "index.m3u8", text.encode(), playlist_cache)
    _, names = playlist_uris(text)
    segments = [File(url_folder + n, (out / n).read_bytes(), LONG) for n in names]
    return playlist, segments


def make_streams(work):
    """All streams, built under `work` (an empty folder)."""
    work = pathlib.Path(work)
    streams = []

    # a. HLS over MPEG-TS, non-ASCII folders: the name comes from the playlist's folder.
    base = "/课程/第一课/"
    playlist, segments = hls_ts(work, source(work, "a", 440), base)
    streams.append(Stream("a", "hls", playlist, [
        Track("第一课.ts", "ts", playlist.quoted(), [("playlist", playlist)] + [("segment", s) for s in segments])],
        [playlist] + segments))

    # b. HLS over fMP4 behind a master playlist; only v720 is ever loaded.
    base = "/media/lesson2/"
    master_lines = ["#EXTM3U", "#EXT-X-VERSION:7", "#EXT-X-INDEPENDENT-SEGMENTS"]
    files, variants = [], {}
    for variant, kbit in (("v720", 90), ("v360", 45)):
        out = hls(work, source(work, "b-" + variant, 550, kbit), "b-" + variant, fmp4=True)
        text = (out / "prog_index.m3u8").read_text()
        init_name, names = playlist_uris(text)
        media = File(f"{base}{variant}/prog_index.m3u8", text.encode(), SHORT)
        init = File(f"{base}{variant}/{init_name}", (out / init_name).read_bytes(), LONG)
        segments = [File(f"{base}{variant}/{n}", (out / n).read_bytes(), LONG) for n in names]
        peak = max(len(s.body) for s in segments) * 8 // 2
        average = sum(len(s.body) for s in segments) * 8 // (2 * len(segments))
        master_lines += [f'#EXT-X-STREAM-INF:BANDWIDTH={peak},AVERAGE-BANDWIDTH={average},'
                         f'CODECS="{avc_codec(init.body)},mp4a.40.2",RESOLUTION=160x90,FRAME-RATE=10.000',
                         f"{variant}/prog_index.m3u8"]
        variants[variant] = (media, init, segments)
        files += [media, init] + segments
    master = File(base + "master.m3u8", ("\n".join(master_lines) + "\n").encode(), SHORT)
    media, init, segments = variants["v720"]
    unwanted = [f for f in files if "/v360/" in f.path]
    streams.append(Stream("b", "hls", master, [
        Track("lesson2.mp4", "mp4", media.quoted(),
              [("playlist", master), ("playlist", media), ("init", init)] + [("segment", s) for s in segments])],
        [master] + files, pin="/v720/", unwanted=unwanted))

    # c. DASH SegmentTemplate with $Number$, picture and sound in separate adaptation sets.
    base = "/dash/旅行/"
    out = work / "c"
    out.mkdir()
    run(["ffmpeg", "-v", "error", "-i", str(source(work, "c", 660)), "-map", "0:v", "-map", "0:a", "-c", "copy",
         "-fflags", "+bitexact", "-f", "dash", "-seg_duration", "2", "-use_template", "1", "-use_timeline", "0",
         "-init_seg_name", "init-$RepresentationID$.m4s",
         "-media_seg_name", "chunk-$RepresentationID$-$Number%05d$.m4s", "manifest.mpd"], out)
    manifest = File(base + "manifest.mpd", (out / "manifest.mpd").read_bytes(), SHORT)
    files, tracks = [manifest], []
    for rep, name, kind in (("0", "旅行.mp4", "mp4"), ("1", "旅行.m4a", "m4a")):
        init = File(f"{base}init-{rep}.m4s", (out / f"init-{rep}.m4s").read_bytes(), LONG)
        chunks = sorted(out.glob(f"chunk-{rep}-*.m4s"))
        segments = [File(base + c.name, c.read_bytes(), LONG, "audio/mp4" if kind == "m4a" else None)
                    for c in chunks]
        if kind == "m4a":
            init.ctype = "audio/mp4"
        files += [init] + segments
        tracks.append(Track(name, kind, manifest.quoted(),
                            [("manifest", manifest), ("init", init)] + [("segment", s) for s in segments]))
    streams.append(Stream("c", "dash", manifest, tracks, files))

    # d. DASH byte ranges of one file per track. ffmpeg 5.1 describes -single_file output with
    # SegmentList@mediaRange; the on-demand way (SegmentBase@indexRange over the sidx that -global_sidx
    # writes after the moov) is what makes players ask for the index first.
    base = "/dash/film/"
    out = work / "d"
    out.mkdir()
    run(["ffmpeg", "-v", "error", "-i", str(source(work, "d", 770)), "-map", "0:v", "-map", "0:a", "-c", "copy",
         "-fflags", "+bitexact", "-f", "dash", "-seg_duration", "2", "-single_file", "1", "-global_sidx", "1",
         "manifest.mpd"], out)
    mpd = (out / "manifest.mpd").read_text()
    track_files = []

    def segment_base(m):
        name = m.group(1)
        data = (out / name).read_bytes()
        sidx = [(at, size) for kind, at, size in boxes(data) if kind == "sidx"]
        assert len(sidx) == 1, f"{name}: {len(sidx)} sidx boxes"
        at, size = sidx[0]
        track_files.append(name)
        return (f"<BaseURL>{name}</BaseURL>\n\t\t\t\t<SegmentBase indexRange=\"{at}-{at + size - 1}\">\n"
                f"\t\t\t\t\t<Initialization range=\"0-{at - 1}\" />\n\t\t\t\t</SegmentBase>")

    mpd = re.sub(r"<BaseURL>([^<]+)</BaseURL>\s*<SegmentList[^>]*>.*?</SegmentList>", segment_base, mpd,
                 flags=re.S)
    mpd = mpd.replace("urn:mpeg:dash:profile:isoff-live:2011", "urn:mpeg:dash:profile:isoff-on-demand:2011")
    assert len(track_files) == 2, mpd
    manifest = File(base + "manifest.mpd", mpd.encode(), SHORT)
    files, tracks = [manifest], []
    for name, (out_name, kind) in zip(track_files, (("film.mp4", "mp4"), ("film.m4a", "m4a"))):
        track = File(base + name, (out / name).read_bytes(), LONG, "audio/mp4" if kind == "m4a" else None)
        files.append(track)
        tracks.append(Track(out_name, kind, manifest.quoted(), [("manifest", manifest), ("track", track)]))
    streams.append(Stream("d", "dash", manifest, tracks, files))

    # e. Played only partly: the player stops loading after two segments.
    playlist, segments = hls_ts(work, source(work, "e", 880), "/hls/partial/")
    streams.append(Stream("e", "hls", playlist, [
        Track("partial.ts", "ts", playlist.quoted(), [("playlist", playlist)] + [("segment", s) for s in segments])],
        [playlist] + segments, stop_after=2))

    # f. A playlist the browser may not keep: the segments are all a cache will hold.
    playlist, segments = hls_ts(work, source(work, "f", 990), "/nostore/clip7/", playlist_cache="no-store")
    assert all(re.fullmatch(r"seg_\d{3}\.ts", s.path.rsplit("/", 1)[1]) for s in segments)
    streams.append(Stream("f", "hls", playlist, [
        Track("clip7.ts", "ts", "/nostore/clip7/seg_%03d.ts",
              [("playlist", playlist)] + [("segment", s) for s in segments])],
        [playlist] + segments))
    return streams
