#pragma once

#include <optional>
#include <string>
#include <vector>

namespace drovan {

struct HarvestArguments {
    std::u16string type;  // empty: every type (only with --list)
    std::u16string destination;
    std::vector<std::u16string> sources;
    bool list = false;
    bool joinStreams = true;  // --no-join: every segment of a stream its own file
};

struct ParsedArguments {
    std::optional<HarvestArguments> arguments;
    std::string error;  // one line saying what is wrong, when arguments is empty
};

ParsedArguments ParseHarvestArguments(const std::vector<std::u16string>& args);

extern const char* const kHarvestUsageText;

}  // namespace drovan
