#include "extract/formats/decode.h"

#include <brotli/encode.h>
#include <gtest/gtest.h>
#include <zlib.h>
#include <zstd.h>

#include <random>
#include <string>
#include <vector>

namespace drovan::tests {
namespace {

enum class Wrap { Gzip = 16 + MAX_WBITS, Zlib = MAX_WBITS, Raw = -MAX_WBITS };

std::string Deflate(const std::string& data, Wrap wrap) {
    z_stream stream{};
    EXPECT_EQ(deflateInit2(&stream, 6, Z_DEFLATED, static_cast<int>(wrap), 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::string out(deflateBound(&stream, data.size()), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

std::string Brotli(const std::string& data) {
    std::string out(BrotliEncoderMaxCompressedSize(data.size()), '\0');
    std::size_t size = out.size();
    EXPECT_TRUE(BrotliEncoderCompress(5, BROTLI_DEFAULT_WINDOW, BROTLI_MODE_GENERIC, data.size(),
                                      reinterpret_cast<const uint8_t*>(data.data()), &size,
                                      reinterpret_cast<uint8_t*>(out.data())));
    out.resize(size);
    return out;
}

// With the frame checksum, so that a damaged frame is always noticed.
std::string Zstd(const std::string& data) {
    ZSTD_CCtx* context = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, 1);
    std::string out(ZSTD_compressBound(data.size()), '\0');
    const std::size_t size = ZSTD_compress2(context, out.data(), out.size(), data.data(), data.size());
    EXPECT_FALSE(ZSTD_isError(size));
    ZSTD_freeCCtx(context);
    out.resize(size);
    return out;
}

std::string Encode(ContentCoding coding, Wrap deflateWrap, const std::string& data) {
    switch (coding) {
        case ContentCoding::Gzip:
            return Deflate(data, Wrap::Gzip);
        case ContentCoding::Deflate:
            return Deflate(data, deflateWrap);
        case ContentCoding::Brotli:
            return Brotli(data);
        case ContentCoding::Zstd:
            return Zstd(data);
        default:
            return data;
    }
}

// Text that compresses well and spans several output chunks.
std::string Text(std::size_t size) {
    std::string text;
    for (int line = 0; text.size() < size; ++line) {
        text += "<li>entry " + std::to_string(line) + " of the cache, 缓存条目</li>\n";
    }
    text.resize(size);
    return text;
}

std::string Noise(std::size_t size) {
    std::mt19937 random(13);
    std::string noise(size, '\0');
    for (char& c : noise) {
        c = static_cast<char>(random());
    }
    return noise;
}

struct Decoded {
    DecodeStatus status = DecodeStatus::Ok;
    std::string bytes;
    std::size_t largestPiece = 0;
};

// Feeds the body in pieces of `piece` bytes (0: all at once), stopping at the first failure.
Decoded Decode(ContentCoding coding, const std::string& body, std::size_t piece = 0,
               std::uint64_t cap = kDecodedBodyCap, DecodeReach reach = DecodeReach::Leading) {
    Decoded decoded;
    const ByteSink sink = [&decoded](const char* data, std::size_t size) {
        decoded.bytes.append(data, size);
        decoded.largestPiece = std::max(decoded.largestPiece, size);
        return true;
    };
    auto decoder = MakeBodyDecoder(coding, cap, reach);
    const std::size_t step = piece == 0 ? std::max<std::size_t>(body.size(), 1) : piece;
    for (std::size_t at = 0; at < body.size() && decoded.status == DecodeStatus::Ok; at += step) {
        decoded.status = decoder->Feed(body.data() + at, std::min(step, body.size() - at), sink);
    }
    if (decoded.status == DecodeStatus::Ok) {
        decoded.status = decoder->Finish(sink);
    }
    return decoded;
}

struct CodingCase {
    const char* name;
    ContentCoding coding;
    Wrap deflateWrap;
};

const CodingCase kCodings[] = {
    {"gzip", ContentCoding::Gzip, Wrap::Gzip},          {"deflate-zlib", ContentCoding::Deflate, Wrap::Zlib},
    {"deflate-raw", ContentCoding::Deflate, Wrap::Raw}, {"br", ContentCoding::Brotli, Wrap::Raw},
    {"zstd", ContentCoding::Zstd, Wrap::Raw},
};

TEST(ContentEncoding, ParsesHeaderValues) {
    const struct {
        const char* value;
        ContentCoding coding;
    } cases[] = {
        {"", ContentCoding::Identity},
        {"  ", ContentCoding::Identity},
        {"identity", ContentCoding::Identity},
        {"gzip", ContentCoding::Gzip},
        {" GZip\t", ContentCoding::Gzip},
        {"x-gzip", ContentCoding::Gzip},
        {"X-GZIP", ContentCoding::Gzip},
        {"deflate", ContentCoding::Deflate},
        {"br", ContentCoding::Brotli},
        {"BR", ContentCoding::Brotli},
        {"zstd", ContentCoding::Zstd},
        {"identity, zstd", ContentCoding::Zstd},
        {"gzip,", ContentCoding::Gzip},
        {"gzip, br", ContentCoding::Unsupported},
        {"gzip,gzip", ContentCoding::Unsupported},
        {"gzip br", ContentCoding::Unsupported},
        {"compress", ContentCoding::Unsupported},
        {"x-compress", ContentCoding::Unsupported},
        {"gzi", ContentCoding::Unsupported},
        {"brotli", ContentCoding::Unsupported},
        {"dcb", ContentCoding::Unsupported},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseContentEncoding(c.value), c.coding) << '"' << c.value << '"';
    }
}

TEST(BodyDecoder, UnsupportedCodingHasNoDecoder) {
    EXPECT_EQ(MakeBodyDecoder(ContentCoding::Unsupported), nullptr);
}

// An empty payload included, and a body of no bytes at all, as a response without a body stores it.
TEST(BodyDecoder, RoundTripsEveryCodingInAnyPieces) {
    const std::string payloads[] = {"", "a", Text(300 * 1024), Noise(100 * 1024)};
    for (const auto& c : kCodings) {
        const Decoded nothing = Decode(c.coding, "");
        EXPECT_EQ(nothing.status, DecodeStatus::Ok) << c.name;
        EXPECT_TRUE(nothing.bytes.empty()) << c.name;
        for (const auto& payload : payloads) {
            const std::string body = Encode(c.coding, c.deflateWrap, payload);
            for (std::size_t piece : {0, 1, 5, 4096}) {
                const Decoded decoded = Decode(c.coding, body, piece);
                EXPECT_EQ(decoded.status, DecodeStatus::Ok) << c.name << " piece " << piece;
                EXPECT_TRUE(decoded.bytes == payload)
                    << c.name << " piece " << piece << " size " << payload.size();
                EXPECT_LE(decoded.largestPiece, 64u * 1024) << c.name;
            }
        }
    }
}

TEST(BodyDecoder, IdentityPassesBytesThrough) {
    const std::string payload = Noise(1000);
    const Decoded decoded = Decode(ContentCoding::Identity, payload, 7);
    EXPECT_EQ(decoded.status, DecodeStatus::Ok);
    EXPECT_TRUE(decoded.bytes == payload);
}

TEST(BodyDecoder, TruncatedStreamIsCorrupt) {
    const std::string payload = Text(200 * 1024);
    for (const auto& c : kCodings) {
        const std::string body = Encode(c.coding, c.deflateWrap, payload);
        for (std::size_t kept : {std::size_t{1}, body.size() / 2, body.size() - 1}) {
            for (std::size_t piece : {0, 3}) {
                EXPECT_EQ(Decode(c.coding, body.substr(0, kept), piece).status, DecodeStatus::Corrupt)
                    << c.name << " kept " << kept << " piece " << piece;
            }
        }
    }
}

TEST(BodyDecoder, DamagedStreamIsCorrupt) {
    const struct {
        const char* name;
        ContentCoding coding;
        std::string body;
    } cases[] = {
        {"gzip: plain text", ContentCoding::Gzip, "<html><body>plain</body></html>"},
        {"gzip: wrong compression method", ContentCoding::Gzip,
         std::string("\x1f\x8b\x07\x00", 4) + Noise(40)},
        {"deflate: reserved block type", ContentCoding::Deflate, "\xff\xff\xff\xff"},
        {"deflate: zlib header, reserved block type", ContentCoding::Deflate, "\x78\x9c\xff\xff"},
        {"br: reserved window bits", ContentCoding::Brotli, "\x11\x00\x00\x00"},
        {"zstd: no frame magic", ContentCoding::Zstd, "<html><body>plain</body></html>"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Decode(c.coding, c.body).status, DecodeStatus::Corrupt) << c.name;
    }
}

// A flipped byte in the middle is caught by gzip's CRC, zlib's Adler-32 and zstd's frame checksum.
TEST(BodyDecoder, FlippedByteIsCaughtByChecksums) {
    const std::string payload = Text(50 * 1024);
    for (const auto& c : kCodings) {
        if (c.deflateWrap == Wrap::Raw && c.coding == ContentCoding::Deflate) {
            continue;
        }
        std::string body = Encode(c.coding, c.deflateWrap, payload);
        body[body.size() / 2] = static_cast<char>(body[body.size() / 2] ^ 0x10);
        const Decoded decoded = Decode(c.coding, body);
        EXPECT_TRUE(decoded.status == DecodeStatus::Corrupt || decoded.bytes != payload) << c.name;
        if (c.coding != ContentCoding::Brotli) {
            EXPECT_EQ(decoded.status, DecodeStatus::Corrupt) << c.name;
        }
    }
}

TEST(BodyDecoder, ZstdWindowAboveEightMebibytesIsRefusedAsCorrupt) {
    const std::string payload = Text(4096);
    for (const int windowLog : {20, 23, 24}) {
        ZSTD_CCtx* context = ZSTD_createCCtx();
        ZSTD_CCtx_setParameter(context, ZSTD_c_windowLog, windowLog);
        std::string body(ZSTD_compressBound(payload.size()) + 64, '\0');
        ZSTD_outBuffer out{body.data(), body.size(), 0};
        ZSTD_inBuffer in{payload.data(), payload.size(), 0};
        // Streamed, so that the frame declares its window instead of the payload's size.
        ZSTD_compressStream2(context, &out, &in, ZSTD_e_continue);
        EXPECT_EQ(ZSTD_compressStream2(context, &out, &in, ZSTD_e_end), 0u);
        ZSTD_freeCCtx(context);
        body.resize(out.pos);
        const Decoded decoded = Decode(ContentCoding::Zstd, body);
        EXPECT_EQ(decoded.status, windowLog <= 23 ? DecodeStatus::Ok : DecodeStatus::Corrupt) << windowLog;
        EXPECT_EQ(decoded.bytes.size(), windowLog <= 23 ? payload.size() : 0u) << windowLog;
    }
}

TEST(BodyDecoder, GzipDecodesEveryMember) {
    const std::string first = Text(70 * 1024), second = "second member", third = Noise(3000);
    const std::string body =
        Deflate(first, Wrap::Gzip) + Deflate(second, Wrap::Gzip) + Deflate(third, Wrap::Gzip);
    for (std::size_t piece : {0, 1, 2, 1000}) {
        const Decoded decoded = Decode(ContentCoding::Gzip, body, piece);
        EXPECT_EQ(decoded.status, DecodeStatus::Ok) << piece;
        EXPECT_TRUE(decoded.bytes == first + second + third) << piece;
    }
}

TEST(BodyDecoder, WhatFollowsAStream) {
    const std::string payload = "what follows";
    const struct {
        const char* name;
        ContentCoding coding;
        std::string body;
        DecodeStatus status;
        std::string decoded;
    } cases[] = {
        {"gzip + zero padding", ContentCoding::Gzip, Deflate(payload, Wrap::Gzip) + std::string(7, '\0'),
         DecodeStatus::Ok, payload},
        {"gzip + one stray byte", ContentCoding::Gzip, Deflate(payload, Wrap::Gzip) + "x", DecodeStatus::Ok,
         payload},
        {"gzip + text", ContentCoding::Gzip, Deflate(payload, Wrap::Gzip) + "\n<!-- cached -->",
         DecodeStatus::Ok, payload},
        {"gzip + damaged member", ContentCoding::Gzip,
         Deflate(payload, Wrap::Gzip) + "\x1f\x8b\x07\x00garbage", DecodeStatus::Corrupt, payload},
        {"gzip + cut member", ContentCoding::Gzip,
         Deflate(payload, Wrap::Gzip) + Deflate(payload, Wrap::Gzip).substr(0, 10), DecodeStatus::Corrupt,
         payload},
        {"zlib + text", ContentCoding::Deflate, Deflate(payload, Wrap::Zlib) + "tail", DecodeStatus::Ok,
         payload},
        {"raw + text", ContentCoding::Deflate, Deflate(payload, Wrap::Raw) + "tail", DecodeStatus::Ok,
         payload},
        {"br + text", ContentCoding::Brotli, Brotli(payload) + "tail", DecodeStatus::Corrupt, payload},
        {"zstd + zstd", ContentCoding::Zstd, Zstd(payload) + Zstd(payload), DecodeStatus::Ok,
         payload + payload},
        {"zstd + text", ContentCoding::Zstd, Zstd(payload) + "tail", DecodeStatus::Corrupt, payload},
    };
    for (const auto& c : cases) {
        for (std::size_t piece : {0, 1}) {
            const Decoded decoded = Decode(c.coding, c.body, piece);
            EXPECT_EQ(decoded.status, c.status) << c.name << " piece " << piece;
            EXPECT_EQ(decoded.bytes, c.decoded) << c.name << " piece " << piece;
        }
    }
}

TEST(BodyDecoder, OutputPastTheCapIsTooLarge) {
    const std::string payload = Text(200 * 1024);
    const std::uint64_t size = payload.size();
    const CodingCase identity = {"identity", ContentCoding::Identity, Wrap::Raw};
    std::vector<CodingCase> codings(std::begin(kCodings), std::end(kCodings));
    codings.push_back(identity);
    for (const auto& c : codings) {
        const std::string body = Encode(c.coding, c.deflateWrap, payload);
        for (std::uint64_t cap : {size, size - 1, std::uint64_t{1000}, std::uint64_t{0}}) {
            for (std::size_t piece : {0, 999}) {
                const Decoded decoded = Decode(c.coding, body, piece, cap);
                EXPECT_EQ(decoded.status, cap >= size ? DecodeStatus::Ok : DecodeStatus::TooLarge)
                    << c.name << " cap " << cap << " piece " << piece;
                EXPECT_LE(decoded.bytes.size(), cap) << c.name;
            }
        }
    }
}

TEST(BodyDecoder, RefusingSinkStopsTheDecoderForGood) {
    const std::string payload = Text(300 * 1024);
    const CodingCase identity = {"identity", ContentCoding::Identity, Wrap::Raw};
    std::vector<CodingCase> codings(std::begin(kCodings), std::end(kCodings));
    codings.push_back(identity);
    for (const auto& c : codings) {
        const std::string body = Encode(c.coding, c.deflateWrap, payload);
        int calls = 0;
        const ByteSink refuseSecond = [&calls](const char*, std::size_t) { return ++calls < 2; };
        auto decoder = MakeBodyDecoder(c.coding);
        DecodeStatus status = DecodeStatus::Ok;
        for (std::size_t at = 0; at < body.size() && status == DecodeStatus::Ok; at += 1024) {
            status =
                decoder->Feed(body.data() + at, std::min<std::size_t>(1024, body.size() - at), refuseSecond);
        }
        EXPECT_EQ(status, DecodeStatus::Refused) << c.name;
        EXPECT_EQ(decoder->Feed(body.data(), body.size(), refuseSecond), DecodeStatus::Refused) << c.name;
        EXPECT_EQ(decoder->Finish(refuseSecond), DecodeStatus::Refused) << c.name;
        EXPECT_EQ(calls, 2) << c.name;
    }
}

std::string WithByte(std::string body, std::size_t fromEnd, char value) {
    body[body.size() - fromEnd] = value;
    return body;
}

// A body held whole goes to libdeflate, and to zlib when libdeflate cannot take it; either way the outcome is
// the streamed one.
TEST(BodyDecoder, AGzipBodyHeldWholeDecodesAsItDoesStreamed) {
    const std::string text = Text(300 * 1024);
    const std::string gzip = Deflate(text, Wrap::Gzip);
    const struct {
        const char* name;
        std::string body;
        std::uint64_t cap = kDecodedBodyCap;
    } cases[] = {
        {"one member", gzip},
        {"two members", gzip + Deflate("second", Wrap::Gzip)},
        {"trailing bytes", gzip + "x"},
        {"size field too small", WithByte(gzip, 2, 0)},
        {"size field too large", WithByte(gzip, 2, 0x3f)},
        {"damaged checksum", WithByte(gzip, 6, 0)},
        {"damaged stream", WithByte(gzip, gzip.size() / 2, 0)},
        {"cut", gzip.substr(0, gzip.size() - 3)},
        {"over the held input", Deflate(Noise(1100 * 1024), Wrap::Gzip)},
        {"over the held output", Deflate(Text(5 << 20), Wrap::Gzip)},
        {"over the cap", gzip, 1000},
        // FHCRC with a wrong CRC-16 of the header, then the header's reserved flag.
        {"header checksum",
         gzip.substr(0, 3) + "\x02" + gzip.substr(4, 6) + std::string(2, '\0') + gzip.substr(10)},
        {"reserved flag", gzip.substr(0, 3) + "\x20" + gzip.substr(4)},
        {"empty", ""},
    };
    for (const auto& c : cases) {
        const Decoded streamed = Decode(ContentCoding::Gzip, c.body, 0, c.cap);
        for (std::size_t piece : {0, 999}) {
            const Decoded held = Decode(ContentCoding::Gzip, c.body, piece, c.cap, DecodeReach::Whole);
            EXPECT_EQ(held.status, streamed.status) << c.name << " piece " << piece;
            EXPECT_TRUE(held.bytes == streamed.bytes) << c.name << " piece " << piece;
            EXPECT_LE(held.largestPiece, 64u * 1024) << c.name;
        }
    }
    int calls = 0;
    const ByteSink refuseSecond = [&calls](const char*, std::size_t) { return ++calls < 2; };
    auto decoder = MakeBodyDecoder(ContentCoding::Gzip, kDecodedBodyCap, DecodeReach::Whole);
    EXPECT_EQ(decoder->Feed(gzip.data(), gzip.size(), refuseSecond), DecodeStatus::Ok);
    EXPECT_EQ(decoder->Finish(refuseSecond), DecodeStatus::Refused);
    EXPECT_EQ(decoder->Feed(gzip.data(), gzip.size(), refuseSecond), DecodeStatus::Refused);
    EXPECT_EQ(calls, 2);
}

TEST(BodyDecoder, CorruptDecoderStaysCorrupt) {
    const std::string valid = Deflate("valid", Wrap::Gzip);
    auto decoder = MakeBodyDecoder(ContentCoding::Gzip);
    const ByteSink sink = [](const char*, std::size_t) { return true; };
    EXPECT_EQ(decoder->Feed("\x1f\x8b\x07\x00", 4, sink), DecodeStatus::Corrupt);
    EXPECT_EQ(decoder->Feed(valid.data(), valid.size(), sink), DecodeStatus::Corrupt);
    EXPECT_EQ(decoder->Finish(sink), DecodeStatus::Corrupt);
}

// Output that ends a frame exactly at the end of an output step must not be taken for an unfinished frame.
TEST(BodyDecoder, ZstdFrameEndingOnAnOutputStepIsComplete) {
    for (const std::size_t size : {4096, 65536, 4096 + 65536}) {
        const std::string payload = Text(size);
        std::string body(ZSTD_compressBound(payload.size()), '\0');
        body.resize(ZSTD_compress(body.data(), body.size(), payload.data(), payload.size(), 3));
        const Decoded decoded = Decode(ContentCoding::Zstd, body);
        EXPECT_EQ(decoded.status, DecodeStatus::Ok) << size;
        EXPECT_TRUE(decoded.bytes == payload) << size;
    }
}

}  // namespace
}  // namespace drovan::tests
