#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "cli/harvest_run.h"

namespace drovan::tests {

// What drovan-harvest would print, kept for the test to read.
class CapturedOutput final : public HarvestOutput {
  public:
    void Line(std::u16string_view text) override { lines.emplace_back(text); }
    void Message(std::u16string_view text) override { messages.emplace_back(text); }
    std::vector<std::u16string> lines;
    std::vector<std::u16string> messages;
};

}  // namespace drovan::tests
