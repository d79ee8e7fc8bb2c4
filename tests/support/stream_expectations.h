#pragma once

// What a harvest should make of the committed stream caches (tests/data/streams/*/streams.tsv: each stream
// as the server gave it: name, type, state, present, expected, sha256 of the served files joined,
// manifest_url).

#include <cstdint>
#include <optional>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "extract/formats/mp4_box.h"

namespace drovan::tests {

// An MPEG-TS stream rewrapped into an MP4 of its name, a DASH picture stream merged with the first complete
// sound stream of its manifest, any other as it was served.
struct ExpectedFile {
    std::string name;
    std::string type;
    std::string state;
    std::string segments;             // "4/4", "4/?"
    std::vector<std::string> served;  // streams.tsv names of the tracks: picture first
    std::string sha256;               // of the served bytes, for a file written as they were
};

inline std::vector<ExpectedFile> ExpectedFiles(const std::vector<std::vector<std::string>>& rows) {
    std::vector<ExpectedFile> files;
    std::vector<bool> merged(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const auto& row = rows[i];
        if (merged[i]) {
            continue;
        }
        // Segments found without a manifest are named by a pattern, "seg_%03d.ts".
        const bool endUnknown = std::regex_search(row[6], std::regex("%0?[0-9]*d"));
        ExpectedFile file{row[0], row[1], row[2], "", {row[0]}, row[5]};
        std::uint64_t present = std::stoull(row[3]);
        std::uint64_t expected = std::stoull(row[4]);
        if (row[1] == "ts") {
            file = {row[0].substr(0, row[0].rfind('.')) + ".mp4", "mp4", row[2], "", {row[0]}, ""};
        }
        for (std::size_t j = i + 1; j < rows.size() && row[1] == "mp4" && row[2] == "complete"; ++j) {
            if (rows[j][1] == "m4a" && rows[j][2] == "complete" && rows[j][6] == row[6]) {
                merged[j] = true;
                file.served.push_back(rows[j][0]);
                file.sha256.clear();
                present += std::stoull(rows[j][3]);
                expected += std::stoull(rows[j][4]);
                break;
            }
        }
        file.segments = std::to_string(present) + "/" + (endUnknown ? "?" : std::to_string(expected));
        files.push_back(file);
    }
    return files;
}

// The types of the top-level boxes; one "malformed" when they do not fill the bytes.
inline std::vector<std::string> TopLevelBoxes(std::string_view bytes) {
    std::vector<std::string> types;
    while (const std::optional<mp4::Box> box = mp4::DecodeBox(bytes)) {
        types.emplace_back(box->header.type);
        bytes.remove_prefix(static_cast<std::size_t>(box->header.size));
    }
    return bytes.empty() ? types : std::vector<std::string>{"malformed"};
}

}  // namespace drovan::tests
