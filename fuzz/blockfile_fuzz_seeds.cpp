// Writes seed inputs for blockfile_fuzz: small sound caches in the fuzz target's compact form.

#include <fstream>
#include <iostream>

#include "fuzz/blockfile_fuzz_input.h"
#include "tests/support/blockfile_builder.h"

namespace {

using namespace drovan::tests;
using drovan::blockfile::SparseChildKey;

const std::string kSite = "1/0/_dk_http://127.0.0.1 http://127.0.0.1 http://127.0.0.1:8000/";

std::string Body(std::size_t size) {
    std::string body(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        body[i] = static_cast<char>(i * 7);
    }
    return body;
}

std::string Ok(std::size_t length) {
    return BlockfileResponseInfo(
        "HTTP/1.1 200 OK\nContent-Type: text/plain\nContent-Length: " + std::to_string(length) + "\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: blockfile_fuzz_seeds FOLDER\n";
        return 2;
    }
    const std::string folder = argv[1];
    auto write = [&](const char* name, const BlockfileBuilder& builder) {
        std::ofstream(folder + "/" + name, std::ios::binary)
            << drovan::fuzz::CompactCacheFiles(builder.Files());
    };

    BlockfileBuilder plain;
    plain.AddEntry(Plain(kSite + "small.txt", Ok(300), Body(300)));
    plain.AddEntry(Plain(kSite + "page.html", Ok(1100), Body(1100)));
    // The f_ body is zeros: the compact form stores it in two bytes.
    plain.AddEntry(Plain(kSite + "big.js", Ok(17000), std::string(17000, '\0')));
    plain.AddEntry(Plain(kSite + std::string(1200, 'k'), Ok(4100), Body(4100)));
    write("seed-plain", plain);

    // A clip of 1 MiB + 5000 bytes, cached in part: 4 KiB of the first child, 5000 bytes of the second ending
    // in a partly written block.
    const std::string key = kSite + "clip.mp4";
    const std::uint64_t signature = 0x2fc0a2fa45931c;
    BlockfileBuilder sparse;
    EntryParts parent;
    parent.key = key;
    parent.flags = 1;
    parent.stream0 =
        BlockfileResponseInfo("HTTP/1.1 206 Partial Content\nContent-Range: bytes 0-99/1053576\n");
    parent.stream2 = SparseStream(signature, key.size(), Bits(32, 0, 2));
    sparse.AddEntry(parent);
    for (std::uint32_t i = 0; i < 2; ++i) {
        EntryParts child;
        child.key = SparseChildKey(key, signature, i);
        child.flags = 2;
        child.stream1 = Body(i == 0 ? 4096 : 5000);
        child.stream2 = i == 0 ? SparseStream(signature, key.size(), Bits(1024, 0, 4))
                               : SparseStream(signature, key.size(), Bits(1024, 0, 4), 4, 904);
        sparse.AddEntry(child);
    }
    write("seed-sparse", sparse);
    return 0;
}
