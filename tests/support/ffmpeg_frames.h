#pragma once

// Debian's ffmpeg as the judge of media files: what it decodes, frame by frame. POSIX only.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace drovan::tests {

// What a shell command prints on its standard output.
inline std::string CommandOutput(const std::string& command) {
    std::string printed;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
            printed += buffer;
        }
        pclose(pipe);
    }
    return printed;
}

inline bool FfmpegInstalled() {
    return std::system("ffmpeg -version >/dev/null 2>&1") == 0;
}

// What ffmpeg says of a file it decodes whole: nothing for a sound file.
inline std::string DecodeErrors(const std::filesystem::path& file) {
    return CommandOutput("ffmpeg -nostdin -v error -i '" + file.string() + "' -f null - 2>&1");
}

// framemd5's hash column for one stream ("0:v:0", "0:a"), one per decoded frame.
inline std::vector<std::string> FrameHashes(const std::filesystem::path& file, const std::string& stream) {
    std::istringstream lines(CommandOutput("ffmpeg -nostdin -v error -i '" + file.string() + "' -map " +
                                           stream + " -autoscale 0 -f framemd5 - 2>/dev/null"));
    std::vector<std::string> hashes;
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line[0] != '#') {
            hashes.push_back(line.substr(line.find_last_of(", ") + 1));
        }
    }
    return hashes;
}

}  // namespace drovan::tests
