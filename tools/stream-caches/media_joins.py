"""Streams whose harvest must join runs that do not simply follow each other: an HLS ad break behind
#EXT-X-DISCONTINUITY, DASH Periods, two whole track files named only by a JSON answer, an HLS stream with a WebVTT
rendition, and a stream played only in part. Tiny media from Debian's ffmpeg, as in media.py."""

import json
import pathlib
import re
import subprocess
import urllib.parse

import media
from media import LONG, SHORT, File, Stream, Track, boxes, playlist_uris, run

SUBTITLES = [(0.5, 1.5, "Welcome to the lecture."), (2.5, 3.5, "First, the plan."),
             (5.5, 6.5, "A cue across a cut."), (7.0, 7.9, "The end.")]


class Output(Track):
    """One file a harvester should write. `how` says what the join must do; `runs` lists, per decoded run in
    playing order, (run, {source stream: output stream}, files) whose bodies joined decode to that run's frames;
    `cues` are the expected (start, end) seconds of a subtitle file on the joined video's timeline."""

    def __init__(self, name, kind, how, manifest, parts, runs=(), cues=None):
        super().__init__(name, kind, manifest, parts)
        self.how, self.runs, self.cues = how, list(runs), cues


class Answer(File):
    """A response whose URL carries a query, sent as it is."""

    def quoted(self):
        path, _, query = self.path.partition("?")
        return urllib.parse.quote(path, safe="/") + "?" + query


class JoinStream(Stream):
    """Stream plus what the page needs beyond a URL: `subtitles` has hls.js pick the text track, `pieces` is how
    many ranges the playurl player fetches per track. `tracks` holds Outputs."""

    def __init__(self, key, player, entry, outputs, files, pieces=0, subtitles=False, **kw):
        super().__init__(key, player, entry, outputs, files, **kw)
        self.pieces, self.subtitles = pieces, subtitles


def clip(work, name, seconds, frequency, size="160x90", start=0.0, gop=20):
    """`seconds` of testsrc2 (from `start` on, so a programme's second half goes on where the first stopped),
    hue and pitch from `frequency`. The sound ends 0.1 s early (see media.source) and its last 0.2 s are silent:
    an AAC decoder then carries almost nothing over a cut. Noise substitution is off: its random state would run on
    across a cut and change every later frame of a joined decode by a few steps."""
    out = work / f"src-{name}.mp4"
    video = (f"testsrc2=size={size}:rate=10:duration={start + seconds},trim=start={start},setpts=PTS-STARTPTS,"
             f"hue=h={frequency % 360}")
    sound = f"sine=frequency={frequency}:duration={seconds - 0.3}:sample_rate=48000,apad=whole_dur={seconds - 0.1}"
    run(["ffmpeg", "-v", "error", "-y", "-fflags", "+bitexact", "-f", "lavfi", "-i", video, "-f", "lavfi", "-i", sound,
         "-c:v", "libx264", "-threads", "1", "-profile:v", "baseline", "-pix_fmt", "yuv420p", "-g", str(gop),
         "-keyint_min", str(gop), "-sc_threshold", "0", "-b:v", "60k", "-c:a", "aac", "-aac_pns", "0", "-b:a", "32k",
         "-ac", "1", "-flags", "+bitexact", "-map_metadata", "-1", out.name], work)
    return out


def ts_run(work, src, folder, prefix="seg_", first=0, offset=None, seconds=2):
    """MPEG-TS segments of one run: `offset` moves its timestamps, `first` numbers its segments on."""
    out = work / folder
    out.mkdir(parents=True)
    args = ["ffmpeg", "-v", "error", "-i", str(src), "-c", "copy", "-fflags", "+bitexact"]
    if offset is not None:
        args += ["-output_ts_offset", str(offset)]
    args += ["-f", "hls", "-hls_time", str(seconds), "-hls_list_size", "0", "-hls_playlist_type", "vod",
             "-start_number", str(first), "-hls_segment_filename", f"{prefix}%03d.ts", "index.m3u8"]
    run(args, out)
    text = (out / "index.m3u8").read_text()
    durations = re.findall(r"#EXTINF:[^\n]*", text)
    _, names = playlist_uris(text)
    return out, list(zip(durations, names))


def ts_files(url_folder, out, listed):
    return [File(url_folder + n, (out / n).read_bytes(), LONG) for _, n in listed]


def playlist(url, runs, cache=SHORT):
    """A VOD media playlist of several runs with #EXT-X-DISCONTINUITY between them."""
    target = max(round(float(d.split(":")[1].rstrip(","))) for r in runs for d, _ in r)
    lines = ["#EXTM3U", "#EXT-X-VERSION:3", f"#EXT-X-TARGETDURATION:{target}", "#EXT-X-MEDIA-SEQUENCE:0",
             "#EXT-X-PLAYLIST-TYPE:VOD"]
    for k, listed in enumerate(runs):
        if k:
            lines.append("#EXT-X-DISCONTINUITY")
        for duration, name in listed:
            lines += [duration, name]
    lines.append("#EXT-X-ENDLIST")
    return File(url, ("\n".join(lines) + "\n").encode(), cache)


def both(files):
    return {0: 0, 1: 1}, files


def matchday(work):
    """Programme 4 s, an ad of 2 s at 128x72 with its own tone and timestamps from 100 s, the programme's
    next 4 s with timestamps from 200 s."""
    base = "/live/matchday/"
    first, listed1 = ts_run(work, clip(work, "m1", 4, 330), "m1")
    ad, listed2 = ts_run(work, clip(work, "ad", 2, 1320, size="128x72"), "ad", prefix="ad_", offset=100)
    second, listed3 = ts_run(work, clip(work, "m2", 4, 330, start=4), "m2", first=len(listed1), offset=200)
    index = playlist(base + "index.m3u8", [listed1, listed2, listed3])
    runs = [ts_files(base, first, listed1), ts_files(base, ad, listed2), ts_files(base, second, listed3)]
    segments = [f for r in runs for f in r]
    out = Output("matchday.mp4", "mp4", "discontinuity", index.quoted(),
                 [("playlist", index)] + [("segment", f) for f in segments],
                 runs=[(k, *both(r)) for k, r in enumerate(runs)])
    return JoinStream("matchday", "hls", index, [out], [index] + segments)


def dash_period(work, src, name):
    out = work / name
    out.mkdir()
    run(["ffmpeg", "-v", "error", "-i", str(src), "-map", "0:v", "-map", "0:a", "-c", "copy", "-fflags", "+bitexact",
         "-f", "dash", "-seg_duration", "2", "-use_template", "1", "-use_timeline", "0",
         "-init_seg_name", f"{name}-init-$RepresentationID$.m4s",
         "-media_seg_name", f"{name}-chunk-$RepresentationID$-$Number%05d$.m4s", "manifest.mpd"], out)
    return out


def twoparts(work):
    """Two Periods, each with its own init segments and numbering; the second made alone, at 128x72."""
    base = "/dash/twoparts/"
    folders = [dash_period(work, clip(work, "p1", 4, 385), "p1"),
               dash_period(work, clip(work, "p2", 4, 605, size="128x72"), "p2")]
    texts = [(f / "manifest.mpd").read_text() for f in folders]
    head = texts[0][:texts[0].index("<Period")]
    head = re.sub(r'mediaPresentationDuration="[^"]*"', 'mediaPresentationDuration="PT8.0S"', head)
    periods = []
    for k, text in enumerate(texts):
        sets = re.findall(r"<AdaptationSet.*?</AdaptationSet>", text, flags=re.S)
        periods.append(f'\t<Period id="{k}" start="PT{4 * k}.0S" duration="PT4.0S">\n\t\t'
                       + "\n\t\t".join(sets) + "\n\t</Period>\n")
    mpd = head + "".join(periods) + "</MPD>\n"
    manifest = File(base + "manifest.mpd", mpd.encode(), SHORT)
    files, parts, runs = [manifest], [("manifest", manifest)], []
    for rep, stream in (("0", 0), ("1", 1)):
        for k, folder in enumerate(folders):
            name = f"p{k + 1}"
            ctype = "audio/mp4" if stream else None
            init = File(f"{base}{name}-init-{rep}.m4s", (folder / f"{name}-init-{rep}.m4s").read_bytes(), LONG, ctype)
            chunks = [File(base + c.name, c.read_bytes(), LONG, ctype)
                      for c in sorted(folder.glob(f"{name}-chunk-{rep}-*.m4s"))]
            files += [init] + chunks
            parts += [("init", init)] + [("segment", c) for c in chunks]
            runs.append((k, {0: stream}, [init] + chunks))
    out = Output("twoparts.mp4", "mp4", "periods", manifest.quoted(), parts, runs=runs)
    return JoinStream("twoparts", "dash", manifest, [out], files)


def playurl(work, origin):
    """Two whole fragmented MP4 files with a sidx, picture alone and sound alone, named only by a JSON answer
    in the shape video sites give; the page fetches each in three ranges and feeds them to MSE."""
    folder = work / "77001"
    folder.mkdir()
    run(["ffmpeg", "-v", "error", "-i", str(clip(work, "77001", 6, 495)), "-map", "0:v", "-map", "0:a", "-c", "copy",
         "-fflags", "+bitexact", "-f", "dash", "-seg_duration", "2", "-single_file", "1", "-global_sidx", "1",
         "manifest.mpd"], folder)
    base = "/upgcxcode/01/70/77001/"
    video = File(base + "77001-1-30064.m4s", (folder / "manifest-stream0.mp4").read_bytes(), LONG)
    sound = File(base + "77001-1-30280.m4s", (folder / "manifest-stream1.mp4").read_bytes(), LONG)

    def described(f, quality, extra):
        sidx = [(at, size) for kind, at, size in boxes(f.body) if kind == "sidx"]
        assert len(sidx) == 1, f.path
        at, size = sidx[0]
        return dict({"id": quality, "baseUrl": origin + f.quoted(), "backupUrl": [], "bandwidth": len(f.body) * 8 // 6,
                     "mimeType": "audio/mp4" if quality > 1000 else "video/mp4",
                     "segment_base": {"initialization": f"0-{at - 1}", "index_range": f"{at}-{at + size - 1}"}},
                    **extra)

    answer = {"code": 0, "message": "0", "ttl": 1, "data": {
        "quality": 64, "format": "flv720", "timelength": 6000, "accept_quality": [64], "video_codecid": 7,
        "dash": {"duration": 6, "minBufferTime": 1.5,
                 "video": [described(video, 64, {"codecs": media.avc_codec(video.body), "width": 160, "height": 90,
                                                 "frameRate": "10", "codecid": 7})],
                 "audio": [described(sound, 30280, {"codecs": "mp4a.40.2", "codecid": 0})]}}}
    api = Answer("/x/player/playurl?avid=77001&cid=1&qn=64&fnval=16",
               json.dumps(answer, separators=(",", ":")).encode(), "max-age=60", "application/json")
    sound.ctype = "video/mp4"
    out = Output("77001-1.mp4", "mp4", "tracks", api.quoted(), [("api", api), ("track", video), ("track", sound)],
                 runs=[(0, {0: 0}, [video]), (0, {0: 1}, [sound])])
    return JoinStream("77001", "playurl", api, [out], [api, video, sound], pieces=3)


def srt(cues):
    def at(t):
        ms = round(t * 1000)
        return f"{ms // 3600000:02d}:{ms // 60000 % 60:02d}:{ms // 1000 % 60:02d},{ms % 1000:03d}"

    return "".join(f"{k + 1}\n{at(a)} --> {at(b)}\n{text}\n\n" for k, (a, b, text) in enumerate(cues))


def lecture(work):
    """HLS over TS with a WebVTT rendition, all from one ffmpeg run as in the joining notes."""
    folder = work / "lecture"
    folder.mkdir()
    src = clip(work, "lecture", 8, 715)
    (folder / "subs.srt").write_text(srt(SUBTITLES))
    run(["ffmpeg", "-v", "error", "-i", str(src), "-i", "subs.srt", "-map", "0:v", "-map", "0:a", "-map", "1:s",
         "-c:v", "copy", "-c:a", "copy", "-c:s", "webvtt", "-fflags", "+bitexact", "-f", "hls", "-hls_time", "2",
         "-hls_list_size", "0", "-hls_playlist_type", "vod", "-hls_segment_filename", "seg_%03d.ts",
         "-master_pl_name", "master.m3u8", "-var_stream_map", "v:0,a:0,s:0,sgroup:subs,language:en",
         "-hls_subtitle_path", "subs.m3u8", "index.m3u8"], folder)
    base = "/courses/lecture/"

    def page(name):
        return File(base + name, (folder / name).read_bytes(), SHORT)

    master, index, subs = page("master.m3u8"), page("index.m3u8"), page("subs.m3u8")
    assert b'LANGUAGE="en"' in master.body, master.body
    _, names = playlist_uris(index.body.decode())
    segments = [File(base + n, (folder / n).read_bytes(), LONG) for n in names]
    _, names = playlist_uris(subs.body.decode())
    texts = [File(base + n, (folder / n).read_bytes(), LONG, "text/vtt") for n in names]
    video = Output("lecture.mp4", "mp4", "hls", index.quoted(),
                   [("playlist", master), ("playlist", index)] + [("segment", f) for f in segments],
                   runs=[(0, *both(segments))])
    text = Output("lecture.en.vtt", "vtt", "subtitles", subs.quoted(),
                  [("playlist", master), ("playlist", subs)] + [("segment", f) for f in texts],
                  cues=[(a, b) for a, b, _ in SUBTITLES])
    return JoinStream("lecture", "hls", master, [video, text], [master, index, subs] + segments + texts,
                      subtitles=True)


def partial(work):
    """Ten 1 s segments; the page stops loading after four."""
    base = "/vod/partial/"
    out, listed = ts_run(work, clip(work, "partial", 10, 1100, gop=10), "partial", seconds=1)
    index = playlist(base + "index.m3u8", [listed])
    segments = ts_files(base, out, listed)
    video = Output("partial.mp4", "mp4", "hls", index.quoted(),
                   [("playlist", index)] + [("segment", f) for f in segments], runs=[(0, *both(segments[:4]))])
    return JoinStream("partial", "hls", index, [video], [index] + segments, stop_after=4)


def make_streams(work, origin):
    """All streams, built under `work` (an empty folder); `origin` goes into the JSON answer's URLs."""
    work = pathlib.Path(work)
    return [matchday(work), twoparts(work), playurl(work, origin), lecture(work), partial(work)]


def frames(path, pick="0"):
    """(stream, md5) of every decoded frame of `path`, in order per stream, each picture at its own size."""
    done = subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-i", str(path), "-map", pick, "-autoscale", "0",
                           "-fps_mode", "passthrough", "-f", "framemd5", "-"], capture_output=True, check=True)
    rows = [line.split(",") for line in done.stdout.decode().splitlines() if line and not line.startswith("#")]
    return [(int(r[0]), r[-1].strip()) for r in rows]


def adts(path, stream):
    done = subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-i", str(path), "-map", f"0:{stream}", "-c", "copy",
                           "-f", "adts", "-"], capture_output=True, check=True)
    return done.stdout


def output_frames(runs, scratch):
    """(stream, run, md5) rows of an output's runs (see Output) as served, in playing order. Pictures: each run decoded alone (every
    run starts with a keyframe). Sound: the AAC frames of every run in one decoder, as a joined file's sound
    is decoded; a fresh decoder per run gives another first frame after a cut."""
    scratch = pathlib.Path(scratch)
    rows, sound, counts = [], b"", []
    for k, (run_no, streams, files) in enumerate(runs):
        path = scratch / f"run-{k}.bin"
        path.write_bytes(b"".join(f.body for f in files))
        for src, dst in sorted(streams.items()):
            if dst == 0:
                rows += [(0, run_no, md5) for _, md5 in frames(path, f"0:{src}")]
            else:
                piece = adts(path, src)
                sound += piece
                (scratch / "piece.aac").write_bytes(piece)
                counts += [run_no] * len(frames(scratch / "piece.aac"))
    if sound:
        (scratch / "sound.aac").write_bytes(sound)
        decoded = frames(scratch / "sound.aac")
        assert len(decoded) == len(counts), (len(decoded), len(counts))
        rows += [(1, run_no, md5) for run_no, (_, md5) in zip(counts, decoded)]
    return rows


def vtt_cues(text):
    """(start, end) seconds of each cue of a WebVTT file."""
    def seconds(t):
        parts = [float(x) for x in t.split(":")]
        return sum(x * 60 ** (len(parts) - 1 - i) for i, x in enumerate(parts))

    return [(seconds(a), seconds(b)) for a, b in re.findall(r"([\d:.]+) --> ([\d:.]+)", text)]
