// ProbeTsSegment on any bytes: what it reports must agree with the bytes it was given.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "extract/streams/media_probe.h"

namespace {

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto probe = drovan::ProbeTsSegment(bytes);
    if (!probe) {
        return 0;
    }
    Require(size >= 2 * 188 && data[0] == 0x47 && data[188] == 0x47);
    Require(std::is_sorted(probe->programme.begin(), probe->programme.end()));
    // A PMT's streams sit in one section of at most 1021 bytes, 5 bytes each.
    Require(probe->programme.size() <= 1021 / 5);
    for (const auto& stream : probe->programme) {
        Require(stream.first <= 0x1FFF);
    }
    Require(!probe->firstPts || (*probe->firstPts < (std::uint64_t{1} << 33) && !probe->programme.empty()));
    Require(!probe->encrypted || !probe->programme.empty());
    return 0;
}
