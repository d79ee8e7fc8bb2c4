#pragma once

// The headers of the elementary streams a TS carries, as an MP4 sample entry needs them: H.264 and H.265
// parameter sets (ITU-T H.264 7.3.2.1, H.265 7.3.2.2), ADTS (ISO/IEC 13818-7) and MPEG audio frame headers.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace drovan::codecs {

// A NAL unit's payload with the emulation prevention bytes (the 3 of 00 00 03) taken out.
inline std::string RawBytePayload(std::string_view nal) {
    std::string raw;
    raw.reserve(nal.size());
    int zeros = 0;
    for (const char c : nal) {
        if (zeros >= 2 && c == 3) {
            zeros = 0;
            continue;
        }
        zeros = c == 0 ? zeros + 1 : 0;
        raw += c;
    }
    return raw;
}

// Reads bits most significant first; reads past the end give zeros and mark the reader failed.
class BitReader {
  public:
    explicit BitReader(std::string_view bytes) : m_bytes(bytes) {}

    bool failed() const { return m_failed; }

    std::uint32_t Bits(unsigned count) {
        std::uint32_t value = 0;
        for (unsigned i = 0; i < count; ++i) {
            value = value << 1 | Bit();
        }
        return value;
    }
    void Skip(std::size_t count) {
        m_position += count;
        if (m_position > m_bytes.size() * 8) {
            m_failed = true;
        }
    }
    // Exp-Golomb, unsigned.
    std::uint32_t Ue() {
        unsigned leadingZeros = 0;
        while (Bit() == 0) {
            if (m_failed || ++leadingZeros > 31) {
                m_failed = true;
                return 0;
            }
        }
        return static_cast<std::uint32_t>((std::uint64_t{1} << leadingZeros) - 1 + Bits(leadingZeros));
    }
    std::int32_t Se() {
        const std::uint32_t code = Ue();
        return code % 2 == 1 ? static_cast<std::int32_t>((code + 1) / 2)
                             : -static_cast<std::int32_t>(code / 2);
    }

  private:
    std::uint32_t Bit() {
        if (m_position >= m_bytes.size() * 8) {
            m_failed = true;
            return 0;
        }
        const auto byte = static_cast<unsigned char>(m_bytes[m_position / 8]);
        const std::uint32_t bit = (byte >> (7 - m_position % 8)) & 1;
        ++m_position;
        return bit;
    }

    std::string_view m_bytes;
    std::size_t m_position = 0;
    bool m_failed = false;
};

struct PictureSize {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

// H.264.

struct AvcSequenceParameters {
    std::uint8_t profile = 0;
    std::uint8_t compatibility = 0;  // the constraint flags
    std::uint8_t level = 0;
    PictureSize size;
};

inline void SkipAvcScalingLists(BitReader& bits, std::uint32_t chromaFormat) {
    const int lists = chromaFormat == 3 ? 12 : 8;
    for (int list = 0; list < lists && !bits.failed(); ++list) {
        if (bits.Bits(1) == 0) {
            continue;
        }
        int last = 8, next = 8;
        for (int j = 0; j < (list < 6 ? 16 : 64) && !bits.failed(); ++j) {
            if (next != 0) {
                next = (last + bits.Se() + 256) % 256;
            }
            last = next == 0 ? last : next;
        }
    }
}

inline void SkipAvcPictureOrderCount(BitReader& bits) {
    const std::uint32_t pictureOrderCountType = bits.Ue();
    if (pictureOrderCountType == 0) {
        bits.Ue();  // log2_max_pic_order_cnt_lsb_minus4
    } else if (pictureOrderCountType == 1) {
        bits.Skip(1);  // delta_pic_order_always_zero_flag
        bits.Se();
        bits.Se();
        const std::uint32_t cycle = bits.Ue();
        for (std::uint32_t i = 0; i < cycle && !bits.failed(); ++i) {
            bits.Se();
        }
    }
}

// From an SPS NAL unit, its one-byte header included.
inline std::optional<AvcSequenceParameters> DecodeAvcSps(std::string_view nal) {
    const std::string raw = RawBytePayload(nal.substr(std::min<std::size_t>(1, nal.size())));
    BitReader bits(raw);
    AvcSequenceParameters sps;
    sps.profile = static_cast<std::uint8_t>(bits.Bits(8));
    sps.compatibility = static_cast<std::uint8_t>(bits.Bits(8));
    sps.level = static_cast<std::uint8_t>(bits.Bits(8));
    bits.Ue();  // seq_parameter_set_id
    std::uint32_t chromaFormat = 1;
    bool separateColourPlanes = false;
    constexpr std::array<std::uint8_t, 12> kHighProfiles = {100, 110, 122, 244, 44,  83,
                                                            86,  118, 128, 138, 139, 134};
    if (std::find(kHighProfiles.begin(), kHighProfiles.end(), sps.profile) != kHighProfiles.end()) {
        chromaFormat = bits.Ue();
        separateColourPlanes = chromaFormat == 3 && bits.Bits(1) == 1;
        bits.Ue();     // bit_depth_luma_minus8
        bits.Ue();     // bit_depth_chroma_minus8
        bits.Skip(1);  // qpprime_y_zero_transform_bypass_flag
        if (bits.Bits(1) == 1) {
            SkipAvcScalingLists(bits, chromaFormat);
        }
    }
    bits.Ue();  // log2_max_frame_num_minus4
    SkipAvcPictureOrderCount(bits);
    bits.Ue();     // max_num_ref_frames
    bits.Skip(1);  // gaps_in_frame_num_value_allowed_flag
    const std::uint64_t widthInMacroblocks = std::uint64_t{bits.Ue()} + 1;
    const std::uint64_t heightInMapUnits = std::uint64_t{bits.Ue()} + 1;
    const std::uint32_t frameMacroblocksOnly = bits.Bits(1);
    if (frameMacroblocksOnly == 0) {
        bits.Skip(1);  // mb_adaptive_frame_field_flag
    }
    bits.Skip(1);  // direct_8x8_inference_flag
    std::uint64_t cropX = 0, cropY = 0;
    if (bits.Bits(1) == 1) {
        const bool subsampled = chromaFormat != 0 && !separateColourPlanes;
        const std::uint64_t unitX = subsampled && chromaFormat != 3 ? 2 : 1;
        const std::uint64_t unitY = (subsampled && chromaFormat == 1 ? 2 : 1) * (2 - frameMacroblocksOnly);
        cropX = unitX * (std::uint64_t{bits.Ue()} + bits.Ue());
        cropY = unitY * (std::uint64_t{bits.Ue()} + bits.Ue());
    }
    const std::uint64_t width = widthInMacroblocks * 16;
    const std::uint64_t height = (2 - frameMacroblocksOnly) * heightInMapUnits * 16;
    if (bits.failed() || cropX >= width || cropY >= height || width > 0xFFFF || height > 0xFFFF) {
        return std::nullopt;
    }
    sps.size = {static_cast<std::uint32_t>(width - cropX), static_cast<std::uint32_t>(height - cropY)};
    return sps;
}

// H.265.

struct HevcSequenceParameters {
    std::string generalProfileTierLevel;  // the 12 bytes from general_profile_space to general_level_idc
    std::uint32_t chromaFormat = 0;
    std::uint32_t bitDepthLuma = 8;
    std::uint32_t bitDepthChroma = 8;
    std::uint8_t temporalLayers = 1;
    bool temporalIdNested = false;
    PictureSize size;
};

inline void SkipHevcSubLayerProfiles(BitReader& bits, std::uint32_t maxSubLayersMinus1) {
    std::array<std::uint32_t, 8> profilePresent{}, levelPresent{};
    for (std::uint32_t i = 0; i < maxSubLayersMinus1; ++i) {
        profilePresent[i] = bits.Bits(1);
        levelPresent[i] = bits.Bits(1);
    }
    if (maxSubLayersMinus1 > 0) {
        bits.Skip(2 * (8 - maxSubLayersMinus1));
    }
    for (std::uint32_t i = 0; i < maxSubLayersMinus1; ++i) {
        bits.Skip(profilePresent[i] * 88 + levelPresent[i] * 8);
    }
}

// From an SPS NAL unit, its two-byte header included.
inline std::optional<HevcSequenceParameters> DecodeHevcSps(std::string_view nal) {
    const std::string raw = RawBytePayload(nal.substr(std::min<std::size_t>(2, nal.size())));
    constexpr std::size_t kProfileTierLevelSize = 12;
    if (raw.size() < 1 + kProfileTierLevelSize) {
        return std::nullopt;
    }
    HevcSequenceParameters sps;
    sps.generalProfileTierLevel = raw.substr(1, kProfileTierLevelSize);
    BitReader bits(raw);
    bits.Skip(4);  // sps_video_parameter_set_id
    const std::uint32_t maxSubLayersMinus1 = bits.Bits(3);
    sps.temporalLayers = static_cast<std::uint8_t>(maxSubLayersMinus1 + 1);
    sps.temporalIdNested = bits.Bits(1) == 1;
    bits.Skip(8 * kProfileTierLevelSize);
    SkipHevcSubLayerProfiles(bits, maxSubLayersMinus1);
    bits.Ue();  // sps_seq_parameter_set_id
    sps.chromaFormat = bits.Ue();
    if (sps.chromaFormat == 3) {
        bits.Skip(1);  // separate_colour_plane_flag
    }
    const std::uint64_t width = bits.Ue();
    const std::uint64_t height = bits.Ue();
    std::uint64_t cropX = 0, cropY = 0;
    if (bits.Bits(1) == 1) {
        const std::uint64_t unitX = sps.chromaFormat == 1 || sps.chromaFormat == 2 ? 2 : 1;
        const std::uint64_t unitY = sps.chromaFormat == 1 ? 2 : 1;
        cropX = unitX * (std::uint64_t{bits.Ue()} + bits.Ue());
        cropY = unitY * (std::uint64_t{bits.Ue()} + bits.Ue());
    }
    sps.bitDepthLuma = bits.Ue() + 8;
    sps.bitDepthChroma = bits.Ue() + 8;
    if (bits.failed() || maxSubLayersMinus1 > 6 || sps.chromaFormat > 3 || cropX >= width ||
        cropY >= height || width > 0xFFFF || height > 0xFFFF || sps.bitDepthLuma > 16 ||
        sps.bitDepthChroma > 16) {
        return std::nullopt;
    }
    sps.size = {static_cast<std::uint32_t>(width - cropX), static_cast<std::uint32_t>(height - cropY)};
    return sps;
}

// AAC in ADTS.

struct AdtsHeader {
    std::uint8_t objectType = 0;  // profile + 1
    std::uint8_t rateIndex = 0;
    std::uint8_t channels = 0;  // channel_configuration
    std::size_t headerSize = 0;
    std::size_t frameSize = 0;  // header included
    std::uint8_t rawBlocks = 1;
};

inline std::optional<std::uint32_t> AacSampleRate(std::uint8_t rateIndex) {
    constexpr std::array<std::uint32_t, 13> kRates = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                                      22050, 16000, 12000, 11025, 8000,  7350};
    if (rateIndex >= kRates.size()) {
        return std::nullopt;
    }
    return kRates[rateIndex];
}

// From at least the header's 7 bytes; none without the sync word or with sizes that cannot be.
inline std::optional<AdtsHeader> DecodeAdtsHeader(std::string_view bytes) {
    constexpr std::size_t kFixedSize = 7, kCrcSize = 2;
    if (bytes.size() < kFixedSize) {
        return std::nullopt;
    }
    const auto byte = [&](std::size_t at) {
        return static_cast<unsigned>(static_cast<unsigned char>(bytes[at]));
    };
    if (byte(0) != 0xFF || (byte(1) & 0xF6) != 0xF0) {
        return std::nullopt;
    }
    AdtsHeader header;
    header.headerSize = kFixedSize + ((byte(1) & 0x01) == 0 ? kCrcSize : 0);
    header.objectType = static_cast<std::uint8_t>((byte(2) >> 6) + 1);
    header.rateIndex = static_cast<std::uint8_t>((byte(2) >> 2) & 0x0F);
    header.channels = static_cast<std::uint8_t>((byte(2) & 0x01) << 2 | byte(3) >> 6);
    header.frameSize = (byte(3) & 0x03) << 11 | byte(4) << 3 | byte(5) >> 5;
    header.rawBlocks = static_cast<std::uint8_t>((byte(6) & 0x03) + 1);
    if (header.frameSize <= header.headerSize || !AacSampleRate(header.rateIndex)) {
        return std::nullopt;
    }
    return header;
}

// The two bytes of an AAC decoder's AudioSpecificConfig (ISO/IEC 14496-3 1.6.2.1).
inline std::string AudioSpecificConfig(std::uint8_t objectType, std::uint8_t rateIndex,
                                       std::uint8_t channels) {
    const unsigned bits = unsigned{objectType} << 11 | unsigned{rateIndex} << 7 | unsigned{channels} << 3;
    return {static_cast<char>(bits >> 8), static_cast<char>(bits & 0xFF)};
}

// MPEG-1/2 audio (MP3 and its layers I and II).

struct MpegAudioHeader {
    std::uint32_t sampleRate = 0;
    std::uint8_t channels = 0;
    std::size_t frameSize = 0;
    std::uint32_t samplesPerFrame = 0;
    bool mpeg1 = false;
};

// From at least the header's 4 bytes; none for free-format or reserved values.
inline std::optional<MpegAudioHeader> DecodeMpegAudioHeader(std::string_view bytes) {
    if (bytes.size() < 4) {
        return std::nullopt;
    }
    const auto byte = [&](std::size_t at) {
        return static_cast<unsigned>(static_cast<unsigned char>(bytes[at]));
    };
    const unsigned version = (byte(1) >> 3) & 0x03;  // 0: 2.5, 2: 2, 3: 1
    const unsigned layer = 4 - ((byte(1) >> 1) & 0x03);
    const unsigned bitrateIndex = byte(2) >> 4;
    const unsigned rateIndex = (byte(2) >> 2) & 0x03;
    if (byte(0) != 0xFF || (byte(1) & 0xE0) != 0xE0 || version == 1 || layer == 4 || bitrateIndex == 0 ||
        bitrateIndex == 15 || rateIndex == 3) {
        return std::nullopt;
    }
    constexpr std::uint16_t kBitrates[2][3][15] = {
        {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}},
        {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
         {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
         {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}}};
    constexpr std::uint32_t kRates[3] = {44100, 48000, 32000};
    MpegAudioHeader header;
    header.mpeg1 = version == 3;
    header.sampleRate = kRates[rateIndex] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
    header.channels = (byte(3) >> 6) == 3 ? 1 : 2;
    const std::uint32_t bitrate = kBitrates[header.mpeg1 ? 1 : 0][layer - 1][bitrateIndex] * 1000u;
    const unsigned padding = (byte(2) >> 1) & 0x01;
    if (layer == 1) {
        header.samplesPerFrame = 384;
        header.frameSize = (12 * bitrate / header.sampleRate + padding) * 4;
    } else {
        header.samplesPerFrame = layer == 3 && !header.mpeg1 ? 576 : 1152;
        header.frameSize = header.samplesPerFrame / 8 * bitrate / header.sampleRate + padding;
    }
    return header;
}

}  // namespace drovan::codecs
