#include "extract/formats/decode.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

// The Windows build decodes through zlib from mingw-w64 and the brotli and zstd decoders built from Debian's
// sources; the bodies were encoded natively by the reference encoders (br quality 11, zstd level 19 with a
// frame checksum).
namespace drovan {
namespace {

std::string Payload() {
    std::string text;
    for (int i = 0; i < 4000; ++i) {
        text += "<p>cache line " + std::to_string(i % 10) + "</p>\n";
    }
    return text;
}

const char kBrotliBody[] =
    "\x5b\x7f\x38\x01\xd6\x48\x8c\x63\x22\x6f\x62\x54\x1c\xd4\x0a\x3c\x3e\x70\xdc\x60\x6c\x4e\xca\x24"
    "\x66\xdc\x79\x8c\xaf\x96\x68\x20\x36\x11\x59\x9a\x3c\xad\x79\x9e\xae\xc1\x81\xe2\x08\x49\x56\x54"
    "\x6a\x8d\x56\x97\x7f\xb9\x97\x00\x00";
const char kZstdBody[] =
    "\x28\xb5\x2f\xfd\xa4\x80\x38\x01\x00\xb5\x01\x00\xe8\x3c\x70\x3e\x63\x61\x63\x68\x65\x20\x6c\x69"
    "\x6e\x65\x20\x30\x3c\x2f\x70\x3e\x0a\x31\x32\x33\x34\x35\x36\x37\x38\x39\x0b\xa0\x40\x78\xff\x73"
    "\xb0\x23\xeb\xb5\x37\xcb\x2c\x4c\x12\x89\x24\x91\x4c\x90\x94\x93\x5b\x0a\x07\x3a\x03\x75";

struct Decoded {
    DecodeStatus status;
    std::string bytes;
};

Decoded Decode(ContentCoding coding, const std::string& body) {
    Decoded decoded{DecodeStatus::Ok, {}};
    const ByteSink sink = [&decoded](const char* data, std::size_t size) {
        decoded.bytes.append(data, size);
        return true;
    };
    auto decoder = MakeBodyDecoder(coding);
    decoded.status = decoder->Feed(body.data(), body.size(), sink);
    if (decoded.status == DecodeStatus::Ok) {
        decoded.status = decoder->Finish(sink);
    }
    return decoded;
}

std::string Gzip(const std::string& data) {
    z_stream stream{};
    EXPECT_EQ(deflateInit2(&stream, 6, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::string out(deflateBound(&stream, data.size()), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
    stream.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

TEST(WindowsDecoders, DecodeBodiesOfEveryCoding) {
    const struct {
        const char* name;
        ContentCoding coding;
        std::string body;
    } cases[] = {
        {"br", ContentCoding::Brotli, std::string(kBrotliBody, sizeof kBrotliBody - 1)},
        {"zstd", ContentCoding::Zstd, std::string(kZstdBody, sizeof kZstdBody - 1)},
        {"gzip", ContentCoding::Gzip, Gzip(Payload())},
    };
    for (const auto& c : cases) {
        const Decoded decoded = Decode(c.coding, c.body);
        EXPECT_EQ(decoded.status, DecodeStatus::Ok) << c.name;
        EXPECT_TRUE(decoded.bytes == Payload()) << c.name << ": " << decoded.bytes.size() << " bytes";
        EXPECT_EQ(Decode(c.coding, c.body.substr(0, c.body.size() - 1)).status, DecodeStatus::Corrupt)
            << c.name;
    }
}

}  // namespace
}  // namespace drovan
