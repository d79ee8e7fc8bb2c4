// Writes seed inputs for record_decoders_fuzz: sound records of each format, built by the tests' builders.
// Usage: record_decoders_seeds FOLDER

#include <fstream>
#include <iostream>
#include <string>

#include "tests/support/blockfile_builder.h"
#include "tests/support/cache_builders.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: record_decoders_seeds FOLDER\n";
        return 2;
    }
    const std::string folder = argv[1];
    auto write = [&](const char* name, const std::string& bytes) {
        std::ofstream(folder + "/" + name, std::ios::binary) << bytes;
    };
    using namespace drovan;
    const std::string key = "1/0/_dk_http://127.0.0.1 http://127.0.0.1 http://127.0.0.1:8000/clip.mp4";

    tests::BlockfileBuilder cache;
    std::uint32_t address = 0;
    const std::string entry = cache.EntryRecord(
        tests::Plain(key, tests::BlockfileResponseInfo("HTTP/1.1 200 OK\n"), "body"), address);
    write("seed-index-header", cache.IndexFile().substr(0, blockfile::kIndexHeaderSize));
    write("seed-block-file-header", cache.BlockFileBytes(1).substr(0, blockfile::kBlockFileHeaderSize));
    write("seed-entry-store", entry);
    write("seed-rankings-node",
          cache.BlockFileBytes(0).substr(blockfile::kBlockFileHeaderSize, blockfile::kRankingsNodeSize));
    write("seed-sparse-header",
          tests::SparseStream(0x2fc0a2fa45931c, key.size(), tests::Bits(1024, 0, 4), 4, 904));

    for (const tests::SimpleWidth width : {tests::SimpleWidth::Padded64, tests::SimpleWidth::Packed32}) {
        const std::string suffix = width == tests::SimpleWidth::Padded64 ? "-64" : "-32";
        write(("seed-simple-header" + suffix).c_str(), tests::SimpleHeader(key, 5, width));
        write(("seed-simple-eof" + suffix).c_str(), tests::SimpleEof(3, 0x1234, 77, width));
        write(("seed-simple-sparse-file" + suffix).c_str(),
              tests::SparseFile(key, {{32, tests::Pattern(64)}}, width));
    }

    tests::FirefoxEntryParts firefox;
    firefox.body = tests::Pattern(40);
    firefox.key = ":http://127.0.0.1:8000/clip.mp4";
    firefox.elements = {{"request-method", "GET"}, {"response-head", "HTTP/1.1 200 OK\r\n"}};
    write("seed-firefox-entry", tests::FirefoxEntry(firefox));
    firefox.body.clear();
    firefox.version = 1;
    firefox.trailer = false;
    write("seed-firefox-entry-1", tests::FirefoxEntry(firefox));
    return 0;
}
