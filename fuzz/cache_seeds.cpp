// Writes seed inputs for the cache readers' fuzz targets: sound entries built as the browsers lay them out.
// Usage: cache_seeds <firefox corpus> <simple corpus> <head corpus> <name corpus>

#include <fstream>
#include <string>

#include "fuzz/cache_fuzz_files.h"
#include "tests/support/cache_builders.h"

namespace {

using namespace drovan::tests;

void Write(const std::string& folder, const std::string& name, const std::string& bytes) {
    std::ofstream(folder + "/" + name, std::ios::binary) << bytes;
}

std::string Joined(std::initializer_list<std::string> files) {
    std::string out;
    for (const std::string& file : files) {
        if (&file != files.begin()) {
            out += drovan::fuzz::kFileMarker;
        }
        out += file;
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        return 2;
    }
    const std::string firefox = argv[1], simple = argv[2], head = argv[3], name = argv[4];
    const std::string key = "O^partitionKey=%28http%2C127.0.0.1%29,a,:http://127.0.0.1:45263/getaudio?id=7";
    FirefoxEntryParts v4;
    v4.body = Pattern(40);
    v4.key = key;
    v4.elements = {
        {"request-method", "GET"},
        {"response-head", FirefoxHead("HTTP/1.1 200 OK\nContent-Type: audio/mpeg\nContent-Length: 40")}};
    FirefoxEntryParts v1 = v4;
    v1.version = 1;
    v1.trailer = false;
    FirefoxEntryParts alt = v4;
    alt.elements.push_back({"alt-data", "1;20,javascript/moz-bytecode"});
    FirefoxEntryParts ranged = v4;
    ranged.elements[1].second =
        FirefoxHead("HTTP/1.1 206 Partial Content\nContent-Range: bytes 0-39/40\nContent-Length: 40");
    Write(firefox, "seed-versions", Joined({FirefoxEntry(v4), FirefoxEntry(v1), FirefoxEntry(alt)}));
    Write(firefox, "seed-ranged", FirefoxEntry(ranged));

    const std::string chromiumKey =
        "1/0/_dk_http://127.0.0.1 http://127.0.0.1 http://127.0.0.1:34439/v/clip.mp4";
    const std::string plain =
        ResponseInfo(RawHeaders("HTTP/1.1 200 OK\nContent-Type: video/mp4\nContent-Length: 64"));
    const std::string sparse =
        ResponseInfo(RawHeaders("HTTP/1.1 206 Partial Content\nContent-Range: bytes 0-63/96\nContent-Length: "
                                "96\nContent-Type: video/mp4"));
    Write(simple, "seed-plain-and-truncated",
          Joined({SimpleEntry(chromiumKey, Pattern(64), plain), "",
                  SimpleEntry(chromiumKey, Pattern(30), ResponseInfo(RawHeaders("HTTP/1.1 200 OK"), true),
                              {false})}));
    Write(simple, "seed-32-bit",
          Joined({SimpleEntry(chromiumKey, Pattern(64), plain, {true, SimpleWidth::Packed32})}));
    Write(simple, "seed-sparse",
          Joined({SimpleEntry(chromiumKey, "", sparse),
                  SparseFile(chromiumKey, {{32, Pattern(64, 32)}, {0, Pattern(32)}})}));

    Write(head, "seed-response-info", sparse);
    Write(head, "seed-lines",
          "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 5-9/10\r\nContent-Length: 5\r\n");
    Write(head, "seed-chromium-key", chromiumKey);
    Write(head, "seed-firefox-key", "O^firstPartyDomain=a,,:b,a,~FETCH,:http://h/x");

    Write(name, "seed-ftyp",
          std::string("\0\0\0\x20"
                      "ftypisom",
                      12) +
              '\0' + "video/mp4" + '\0' + "http://h/weird/a%3Ab%7Cc.m4v?x=1");
    Write(name, "seed-text",
          std::string("<html>") + '\0' + "text/html; charset=utf-8" + '\0' + "http://h/CON");
    return 0;
}
