#include "extract/formats/decode.h"

#include <brotli/decode.h>
#include <libdeflate.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <string>

#include "extract/ascii.h"

namespace drovan {
namespace {

constexpr std::size_t kOutputChunk = 64 * 1024;
// A look at an entry wants only its leading bytes: the outputs start small and grow, so that a look does not
// inflate kilobytes of a body it will throw away after its signature.
constexpr std::size_t kFirstOutputChunk = 64;
constexpr std::size_t kOutputGrowth = 64;
// zlib counts input in 32-bit units.
constexpr std::size_t kInflateInputChunk = 1u << 30;
// The zstd content coding limits windows to 8 MiB, as browsers do; it also bounds what one decoder allocates.
constexpr int kZstdWindowLogMax = 23;
// A gzip body up to this size is held and inflated at once, when its trailer says it decodes to no more than
// the held output size; the two bound what one decoder holds.
constexpr std::size_t kHeldGzipInput = 1 << 20;
constexpr std::size_t kHeldGzipOutput = 4 << 20;

ContentCoding ParseOneCoding(std::string_view token) {
    if (EqualsIgnoringAsciiCase(token, "gzip") || EqualsIgnoringAsciiCase(token, "x-gzip")) {
        return ContentCoding::Gzip;
    }
    if (EqualsIgnoringAsciiCase(token, "deflate")) {
        return ContentCoding::Deflate;
    }
    if (EqualsIgnoringAsciiCase(token, "br")) {
        return ContentCoding::Brotli;
    }
    if (EqualsIgnoringAsciiCase(token, "zstd")) {
        return ContentCoding::Zstd;
    }
    return ContentCoding::Unsupported;
}

// Keeps the cap, the output buffer and the sticky status common to every decoder.
class CappedDecoder : public BodyDecoder {
  public:
    DecodeStatus Feed(const char* data, std::size_t size, const ByteSink& sink) final {
        if (m_status == DecodeStatus::Ok && size > 0) {
            m_sawInput = true;
            m_status = Decode(reinterpret_cast<const unsigned char*>(data), size, sink);
        }
        return m_status;
    }
    DecodeStatus Finish(const ByteSink& sink) final {
        if (m_status == DecodeStatus::Ok && m_sawInput) {
            m_status = End(sink);
        }
        return m_status;
    }

  protected:
    explicit CappedDecoder(std::uint64_t cap) : m_cap(cap) {}

    virtual DecodeStatus Decode(const unsigned char* data, std::size_t size, const ByteSink& sink) = 0;
    virtual DecodeStatus End(const ByteSink& sink) = 0;

    // Made on first use and left unfilled: most bodies need none, and each entry looked at makes a decoder.
    unsigned char* Buffer() {
        if (!m_buffer) {
            m_buffer.reset(new char[kOutputChunk]);
        }
        return reinterpret_cast<unsigned char*>(m_buffer.get());
    }

    // Hands the first `size` bytes of the buffer on, unless they would pass the cap.
    DecodeStatus Emit(const char* data, std::size_t size, const ByteSink& sink) {
        if (size == 0) {
            return DecodeStatus::Ok;
        }
        if (size > m_cap - m_produced) {
            return DecodeStatus::TooLarge;
        }
        m_produced += size;
        return sink(data, size) ? DecodeStatus::Ok : DecodeStatus::Refused;
    }
    DecodeStatus EmitBuffer(std::size_t size, const ByteSink& sink) {
        if (size > 0) {
            m_outputSize = std::min(m_outputSize * kOutputGrowth, kOutputChunk);
        }
        return Emit(reinterpret_cast<const char*>(Buffer()), size, sink);
    }
    // How much of the buffer the next decoding step may fill: a little until the first output, more after
    // each.
    std::size_t NextOutputSize() const { return m_outputSize; }

  private:
    std::uint64_t m_cap;
    std::uint64_t m_produced = 0;
    std::unique_ptr<char[]> m_buffer;
    std::size_t m_outputSize = kFirstOutputChunk;
    DecodeStatus m_status = DecodeStatus::Ok;
    bool m_sawInput = false;
};

class IdentityDecoder final : public CappedDecoder {
  public:
    explicit IdentityDecoder(std::uint64_t cap) : CappedDecoder(cap) {}

  private:
    DecodeStatus Decode(const unsigned char* data, std::size_t size, const ByteSink& sink) override {
        return Emit(reinterpret_cast<const char*>(data), size, sink);
    }
    DecodeStatus End(const ByteSink&) override { return DecodeStatus::Ok; }
};

// gzip (every member of a multi-member body) and deflate, zlib-wrapped or raw.
class ZlibDecoder final : public CappedDecoder {
  public:
    ZlibDecoder(bool gzip, std::uint64_t cap) : CappedDecoder(cap), m_gzip(gzip) {}
    ~ZlibDecoder() override {
        if (m_initialised) {
            inflateEnd(&m_stream);
        }
    }
    ZlibDecoder(const ZlibDecoder&) = delete;
    ZlibDecoder& operator=(const ZlibDecoder&) = delete;

  private:
    // Sniffing: gathering the two bytes that tell a gzip member from trailing bytes, or zlib from raw
    // deflate. Trailing: the body is complete; browsers ignore what follows it, and so do we.
    enum class Stage { Sniffing, Inflating, Trailing };

    DecodeStatus Decode(const unsigned char* data, std::size_t size, const ByteSink& sink) override {
        while (size > 0) {
            if (m_stage == Stage::Trailing) {
                return DecodeStatus::Ok;
            }
            if (m_stage == Stage::Sniffing) {
                const std::size_t taken = std::min(size, m_head.size() - m_headSize);
                std::copy(data, data + taken, m_head.begin() + m_headSize);
                m_headSize += taken;
                data += taken;
                size -= taken;
                if (m_headSize < m_head.size()) {
                    return DecodeStatus::Ok;
                }
                if (!StartStream()) {
                    continue;
                }
                const DecodeStatus status = Inflate(m_head.data(), m_head.size(), sink);
                if (status != DecodeStatus::Ok) {
                    return status;
                }
                continue;
            }
            const std::size_t piece = std::min(size, kInflateInputChunk);
            const std::size_t before = size;
            const DecodeStatus status = Inflate(data, piece, sink);
            if (status != DecodeStatus::Ok) {
                return status;
            }
            // Inflate hands back unread bytes only when a gzip member ended before them.
            const std::size_t used = piece - m_leftover;
            data += used;
            size = before - used;
        }
        return DecodeStatus::Ok;
    }

    DecodeStatus End(const ByteSink&) override {
        if (m_stage == Stage::Inflating) {
            return DecodeStatus::Corrupt;
        }
        // A lone byte after a complete gzip member is trailing; a lone byte of deflate is not a stream.
        return m_stage == Stage::Sniffing && !m_anyMemberEnded ? DecodeStatus::Corrupt : DecodeStatus::Ok;
    }

    // Decides from the first two bytes how to inflate; false when the rest of the body is trailing bytes.
    bool StartStream() {
        m_headSize = 0;
        int windowBits = 0;
        if (m_gzip) {
            if (m_anyMemberEnded && (m_head[0] != 0x1f || m_head[1] != 0x8b)) {
                m_stage = Stage::Trailing;
                return false;
            }
            windowBits = 16 + MAX_WBITS;
        } else {
            const unsigned method = m_head[0] & 0x0fu;
            const unsigned windowLog = m_head[0] >> 4;
            const bool presetDictionary = (m_head[1] & 0x20u) != 0;
            const bool zlibHeader = method == Z_DEFLATED && windowLog <= 7 && !presetDictionary &&
                                    (m_head[0] * 256u + m_head[1]) % 31u == 0;
            windowBits = zlibHeader ? MAX_WBITS : -MAX_WBITS;
        }
        m_stage = Stage::Inflating;
        if (!m_initialised) {
            m_initialised = inflateInit2(&m_stream, windowBits) == Z_OK;
        } else {
            inflateReset(&m_stream);
        }
        return true;
    }

    // Inflates `size` bytes; m_leftover says how many were left unread because a gzip member ended before
    // them.
    DecodeStatus Inflate(const unsigned char* data, std::size_t size, const ByteSink& sink) {
        m_leftover = 0;
        if (!m_initialised) {
            return DecodeStatus::Corrupt;
        }
        m_stream.next_in = const_cast<unsigned char*>(data);
        m_stream.avail_in = static_cast<uInt>(size);
        for (;;) {
            const std::size_t outputSize = NextOutputSize();
            m_stream.next_out = Buffer();
            m_stream.avail_out = static_cast<uInt>(outputSize);
            const int result = inflate(&m_stream, Z_NO_FLUSH);
            const DecodeStatus emitted = EmitBuffer(outputSize - m_stream.avail_out, sink);
            if (emitted != DecodeStatus::Ok) {
                return emitted;
            }
            if (result == Z_STREAM_END) {
                m_anyMemberEnded = true;
                m_stage = m_gzip ? Stage::Sniffing : Stage::Trailing;
                m_leftover = m_stream.avail_in;
                return DecodeStatus::Ok;
            }
            if (result == Z_BUF_ERROR ||
                (result == Z_OK && m_stream.avail_in == 0 && m_stream.avail_out > 0)) {
                return DecodeStatus::Ok;
            }
            if (result != Z_OK) {
                return DecodeStatus::Corrupt;
            }
        }
    }

    bool m_gzip;
    bool m_initialised = false;
    bool m_anyMemberEnded = false;
    Stage m_stage = Stage::Sniffing;
    std::array<unsigned char, 2> m_head{};
    std::size_t m_headSize = 0;
    std::size_t m_leftover = 0;
    z_stream m_stream{};
};

// A gzip body read whole, held and inflated at once by libdeflate, about twice as fast as zlib. One too large
// to hold, or one libdeflate cannot take whole (several members, trailing bytes, damage, a size field that
// lies), is fed to zlib as it always was, so the bytes that come out never differ.
class HeldGzipDecoder final : public BodyDecoder {
  public:
    explicit HeldGzipDecoder(std::uint64_t cap) : m_cap(cap) {}

    DecodeStatus Feed(const char* data, std::size_t size, const ByteSink& sink) override {
        if (m_wholeStatus) {
            return *m_wholeStatus;
        }
        if (!m_zlib && m_held.size() + size <= kHeldGzipInput) {
            m_held.append(data, size);
            return DecodeStatus::Ok;
        }
        const DecodeStatus status = FeedHeldToZlib(sink);
        return status == DecodeStatus::Ok ? m_zlib->Feed(data, size, sink) : status;
    }

    DecodeStatus Finish(const ByteSink& sink) override {
        if (!m_zlib && !m_wholeStatus) {
            m_wholeStatus = InflateWhole(sink);
        }
        if (m_wholeStatus) {
            return *m_wholeStatus;
        }
        const DecodeStatus status = FeedHeldToZlib(sink);
        return status == DecodeStatus::Ok ? m_zlib->Finish(sink) : status;
    }

  private:
    struct DecompressorFree {
        void operator()(libdeflate_decompressor* decompressor) const {
            libdeflate_free_decompressor(decompressor);
        }
    };

    DecodeStatus FeedHeldToZlib(const ByteSink& sink) {
        if (m_zlib) {
            return DecodeStatus::Ok;
        }
        m_zlib = std::make_unique<ZlibDecoder>(true, m_cap);
        const std::string held = std::move(m_held);
        m_held = std::string();
        return held.empty() ? DecodeStatus::Ok : m_zlib->Feed(held.data(), held.size(), sink);
    }

    // The held body inflated, when libdeflate takes it whole; nothing reaches the sink otherwise.
    std::optional<DecodeStatus> InflateWhole(const ByteSink& sink) {
        constexpr std::size_t kSmallestMember = 18;
        constexpr std::size_t kFlagsAt = 3;
        // libdeflate passes over the header's CRC-16 that zlib checks.
        constexpr unsigned char kHeaderCrcFlag = 0x02;
        if (m_held.size() < kSmallestMember ||
            (static_cast<unsigned char>(m_held[kFlagsAt]) & kHeaderCrcFlag) != 0) {
            return std::nullopt;
        }
        const auto* end = reinterpret_cast<const unsigned char*>(m_held.data() + m_held.size());
        const std::uint32_t isize =
            end[-4] | end[-3] << 8 | end[-2] << 16 | static_cast<std::uint32_t>(end[-1]) << 24;
        if (isize > kHeldGzipOutput || isize > m_cap) {
            return std::nullopt;
        }
        const std::unique_ptr<libdeflate_decompressor, DecompressorFree> decompressor(
            libdeflate_alloc_decompressor());
        if (!decompressor) {
            return std::nullopt;
        }
        const std::unique_ptr<char[]> output(new char[std::max<std::size_t>(isize, 1)]);
        std::size_t used = 0;
        std::size_t produced = 0;
        if (libdeflate_gzip_decompress_ex(decompressor.get(), m_held.data(), m_held.size(), output.get(),
                                          isize, &used, &produced) != LIBDEFLATE_SUCCESS ||
            used != m_held.size() || produced != isize) {
            return std::nullopt;
        }
        m_held = std::string();
        for (std::size_t at = 0; at < produced; at += kOutputChunk) {
            if (!sink(output.get() + at, std::min(kOutputChunk, produced - at))) {
                return DecodeStatus::Refused;
            }
        }
        return DecodeStatus::Ok;
    }

    std::uint64_t m_cap;
    std::string m_held;
    std::unique_ptr<ZlibDecoder> m_zlib;
    std::optional<DecodeStatus> m_wholeStatus;
};

class BrotliDecoder final : public CappedDecoder {
  public:
    explicit BrotliDecoder(std::uint64_t cap)
        : CappedDecoder(cap), m_state(BrotliDecoderCreateInstance(nullptr, nullptr, nullptr)) {}
    ~BrotliDecoder() override { BrotliDecoderDestroyInstance(m_state); }
    BrotliDecoder(const BrotliDecoder&) = delete;
    BrotliDecoder& operator=(const BrotliDecoder&) = delete;

  private:
    DecodeStatus Decode(const unsigned char* data, std::size_t size, const ByteSink& sink) override {
        if (m_state == nullptr || m_ended) {
            // Nothing may follow the stream's last block.
            return DecodeStatus::Corrupt;
        }
        for (;;) {
            const std::size_t outputSize = NextOutputSize();
            std::size_t outputLeft = outputSize;
            unsigned char* output = Buffer();
            const BrotliDecoderResult result =
                BrotliDecoderDecompressStream(m_state, &size, &data, &outputLeft, &output, nullptr);
            const DecodeStatus emitted = EmitBuffer(outputSize - outputLeft, sink);
            if (emitted != DecodeStatus::Ok) {
                return emitted;
            }
            switch (result) {
                case BROTLI_DECODER_RESULT_NEEDS_MORE_OUTPUT:
                    continue;
                case BROTLI_DECODER_RESULT_NEEDS_MORE_INPUT:
                    return DecodeStatus::Ok;
                case BROTLI_DECODER_RESULT_SUCCESS:
                    m_ended = true;
                    return size == 0 ? DecodeStatus::Ok : DecodeStatus::Corrupt;
                default:
                    return DecodeStatus::Corrupt;
            }
        }
    }

    DecodeStatus End(const ByteSink&) override { return m_ended ? DecodeStatus::Ok : DecodeStatus::Corrupt; }

    BrotliDecoderState* m_state;
    bool m_ended = false;
};

// Frames may follow one another; the body is complete when the last one is.
class ZstdDecoder final : public CappedDecoder {
  public:
    explicit ZstdDecoder(std::uint64_t cap) : CappedDecoder(cap), m_context(ZSTD_createDCtx()) {
        if (m_context != nullptr) {
            ZSTD_DCtx_setParameter(m_context, ZSTD_d_windowLogMax, kZstdWindowLogMax);
        }
    }
    ~ZstdDecoder() override { ZSTD_freeDCtx(m_context); }
    ZstdDecoder(const ZstdDecoder&) = delete;
    ZstdDecoder& operator=(const ZstdDecoder&) = delete;

  private:
    DecodeStatus Decode(const unsigned char* data, std::size_t size, const ByteSink& sink) override {
        if (m_context == nullptr) {
            return DecodeStatus::Corrupt;
        }
        ZSTD_inBuffer input{data, size, 0};
        for (;;) {
            ZSTD_outBuffer output{Buffer(), NextOutputSize(), 0};
            const std::size_t result = ZSTD_decompressStream(m_context, &output, &input);
            if (ZSTD_isError(result)) {
                return DecodeStatus::Corrupt;
            }
            m_frameEnded = result == 0;
            const DecodeStatus emitted = EmitBuffer(output.pos, sink);
            if (emitted != DecodeStatus::Ok) {
                return emitted;
            }
            // A frame that ends exactly filling the output is flushed: asking again would start a frame.
            if (input.pos == input.size && (output.pos < output.size || m_frameEnded)) {
                return DecodeStatus::Ok;
            }
        }
    }

    DecodeStatus End(const ByteSink&) override {
        return m_frameEnded ? DecodeStatus::Ok : DecodeStatus::Corrupt;
    }

    ZSTD_DCtx* m_context;
    bool m_frameEnded = false;
};

}  // namespace

ContentCoding ParseContentEncoding(std::string_view headerValue) {
    ContentCoding coding = ContentCoding::Identity;
    int codings = 0;
    while (true) {
        const std::size_t comma = headerValue.find(',');
        const std::string_view token = TrimBlanks(headerValue.substr(0, comma));
        if (!token.empty() && !EqualsIgnoringAsciiCase(token, "identity")) {
            coding = ParseOneCoding(token);
            ++codings;
        }
        if (comma == std::string_view::npos) {
            break;
        }
        headerValue.remove_prefix(comma + 1);
    }
    return codings > 1 ? ContentCoding::Unsupported : coding;
}

std::unique_ptr<BodyDecoder> MakeBodyDecoder(ContentCoding coding, std::uint64_t outputCap,
                                             DecodeReach reach) {
    switch (coding) {
        case ContentCoding::Identity:
            return std::make_unique<IdentityDecoder>(outputCap);
        case ContentCoding::Gzip:
            if (reach == DecodeReach::Whole) {
                return std::make_unique<HeldGzipDecoder>(outputCap);
            }
            return std::make_unique<ZlibDecoder>(true, outputCap);
        case ContentCoding::Deflate:
            return std::make_unique<ZlibDecoder>(false, outputCap);
        case ContentCoding::Brotli:
            return std::make_unique<BrotliDecoder>(outputCap);
        case ContentCoding::Zstd:
            return std::make_unique<ZstdDecoder>(outputCap);
        case ContentCoding::Unsupported:
            break;
    }
    return nullptr;
}

}  // namespace drovan
