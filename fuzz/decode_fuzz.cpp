// Feeds arbitrary bytes to one body decoder (chosen at build time) in pieces whose size the first byte picks,
// under a small cap, and checks what reaches the sink; a body decoded whole must come out as it does
// streamed.
#include "extract/formats/decode.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

#ifndef DECODE_FUZZ_CODING
#error "DECODE_FUZZ_CODING names the coding under test"
#endif

namespace {

constexpr std::uint64_t kFuzzCap = 4 << 20;

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

struct Outcome {
    drovan::DecodeStatus status = drovan::DecodeStatus::Ok;
    std::uint64_t size = 0;
    std::uint64_t hash = 14695981039346656037ull;

    bool operator==(const Outcome& other) const {
        return status == other.status && size == other.size && hash == other.hash;
    }
};

Outcome DecodeAll(const char* body, std::size_t bodySize, std::size_t piece, drovan::DecodeReach reach) {
    Outcome outcome;
    const drovan::ByteSink sink = [&outcome](const char* bytes, std::size_t count) {
        outcome.size += count;
        for (std::size_t i = 0; i < count; ++i) {
            outcome.hash = (outcome.hash ^ static_cast<unsigned char>(bytes[i])) * 1099511628211ull;
        }
        return true;
    };
    auto decoder = drovan::MakeBodyDecoder(drovan::ContentCoding::DECODE_FUZZ_CODING, kFuzzCap, reach);
    for (std::size_t at = 0; at < bodySize && outcome.status == drovan::DecodeStatus::Ok; at += piece) {
        outcome.status = decoder->Feed(body + at, std::min(piece, bodySize - at), sink);
    }
    if (outcome.status == drovan::DecodeStatus::Ok) {
        outcome.status = decoder->Finish(sink);
    }
    return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    using drovan::DecodeStatus;
    if (size == 0) {
        return 0;
    }
    const std::size_t piece = 1 + (data[0] % 64) * (data[0] % 64);
    const char* body = reinterpret_cast<const char*>(data + 1);
    const std::size_t bodySize = size - 1;

    drovan::ParseContentEncoding(std::string_view(body, bodySize));

    std::uint64_t total = 0;
    const drovan::ByteSink sink = [&total](const char* bytes, std::size_t count) {
        Check(count > 0 && count <= 64 * 1024);
        total += count;
        // Touch the bytes so that the sanitizer sees a read past the buffer.
        return bytes[0] != bytes[count - 1] || count < 1000 || bytes[count / 2] != 'S';
    };
    auto decoder = drovan::MakeBodyDecoder(drovan::ContentCoding::DECODE_FUZZ_CODING, kFuzzCap);
    DecodeStatus status = DecodeStatus::Ok;
    for (std::size_t at = 0; at < bodySize && status == DecodeStatus::Ok; at += piece) {
        status = decoder->Feed(body + at, std::min(piece, bodySize - at), sink);
    }
    if (status == DecodeStatus::Ok) {
        status = decoder->Finish(sink);
    }
    Check(total <= kFuzzCap);
    // A failed decoder stays failed and stays silent.
    const std::uint64_t before = total;
    if (status != DecodeStatus::Ok) {
        Check(decoder->Feed(body, bodySize, sink) == status);
        Check(decoder->Finish(sink) == status);
        Check(total == before);
    }
    Check(DecodeAll(body, bodySize, piece, drovan::DecodeReach::Whole) ==
          DecodeAll(body, bodySize, bodySize + 1, drovan::DecodeReach::Leading));
    return 0;
}
