#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

namespace drovan {

// The body codings a stored response may carry in its Content-Encoding header.
enum class ContentCoding { Identity, Gzip, Deflate, Brotli, Zstd, Unsupported };

// Case-insensitive, spaces trimmed. "" and "identity" give Identity, "x-gzip" Gzip. A list of several codings
// ("gzip, br") is Unsupported: servers practically never stack them and browsers rarely store such bodies.
ContentCoding ParseContentEncoding(std::string_view headerValue);

// Receives decoded bytes; returns false to stop decoding.
using ByteSink = std::function<bool(const char* data, std::size_t size)>;

// Refused: the sink returned false. TooLarge: the output would pass the cap. Once a call returns anything but
// Ok, the decoder stays in that state and every later call returns the same.
enum class DecodeStatus { Ok, Corrupt, TooLarge, Refused };

// Streams one body through a decoder in bounded memory: the body is fed in pieces of any size, decoded bytes
// go to the sink in pieces of at most 64 KiB.
class BodyDecoder {
  public:
    virtual ~BodyDecoder() = default;
    [[nodiscard]] virtual DecodeStatus Feed(const char* data, std::size_t size, const ByteSink& sink) = 0;
    // Corrupt when the body stopped inside the encoded stream. An empty body decodes to nothing.
    [[nodiscard]] virtual DecodeStatus Finish(const ByteSink& sink) = 0;
};

constexpr std::uint64_t kDecodedBodyCap = 1ull << 30;

// Whole: the caller feeds the whole body and wants all of it, so a small gzip body may be held until Finish
// and inflated at once, the same bytes sooner. Leading: output as soon as the input allows, for a look.
enum class DecodeReach { Leading, Whole };

// Identity passes the bytes through under the same cap; Unsupported gives no decoder.
[[nodiscard]] std::unique_ptr<BodyDecoder> MakeBodyDecoder(ContentCoding coding,
                                                           std::uint64_t outputCap = kDecodedBodyCap,
                                                           DecodeReach reach = DecodeReach::Leading);

}  // namespace drovan
