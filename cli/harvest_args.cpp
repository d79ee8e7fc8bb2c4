#include "cli/harvest_args.h"

#include "extract/utf8.h"

namespace drovan {

const char* const kHarvestUsageText =
    "usage: drovan-harvest --type TYPE --to FOLDER [--no-join] [--from CACHE ...]\n"
    "       drovan-harvest --list [--type TYPE] [--no-join] [--from CACHE ...]\n"
    "without --from: the Internet-cache folder, then every browser's cache found (Windows only)\n"
    "--no-join: the segments of streamed video each as their own file, not joined into one\n";

const char* const kHarvestHelpText = "";

ParsedArguments ParseHarvestArguments(const std::vector<std::u16string>& args) {
    HarvestArguments result;
    bool typeGiven = false;
    bool destinationGiven = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::u16string& option = args[i];
        if (option == u"--list") {
            result.list = true;
            continue;
        }
        if (option == u"--no-join") {
            result.joinStreams = false;
            continue;
        }
        std::u16string* value = nullptr;
        if (option == u"--type") {
            value = &result.types;
            typeGiven = true;
        } else if (option == u"--to") {
            value = &result.destination;
            destinationGiven = true;
        } else if (option == u"--from") {
            value = &result.sources.emplace_back();
        } else {
            return {std::nullopt, "unknown option " + Utf16ToUtf8(option)};
        }
        if (i + 1 == args.size() || args[i + 1].empty()) {
            return {std::nullopt, Utf16ToUtf8(option) + " needs a value"};
        }
        *value = args[++i];
    }
    if (result.list && destinationGiven) {
        return {std::nullopt, "--list prints the entries and writes nothing: leave out --to"};
    }
    if (!result.list && !destinationGiven) {
        return {std::nullopt, "missing --to FOLDER"};
    }
    if (!result.list && !typeGiven) {
        return {std::nullopt, "missing --type TYPE"};
    }
    return {std::move(result), {}};
}

}  // namespace drovan
