#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <variant>

namespace drovan::bench {

// A benchmark's "--flag value" option and where its value goes: a whole number (positive), or text.
struct BenchOption {
    const char* flag;
    std::variant<int*, std::uint64_t*, std::string*> value;
};

// Reads "--flag value" pairs into the options named. Prints what is wrong and gives false for a flag not
// named, a flag without a value, or a number that is not a positive whole number.
inline bool ParseBenchOptions(int argc, char** argv, std::initializer_list<BenchOption> options) {
    for (int i = 1; i < argc; i += 2) {
        const std::string flag = argv[i];
        const BenchOption* option = nullptr;
        for (const BenchOption& known : options) {
            option = flag == known.flag ? &known : option;
        }
        if (option == nullptr || i + 1 == argc) {
            std::fprintf(stderr, option == nullptr ? "unknown option %s\n" : "%s needs a value\n", argv[i]);
            return false;
        }
        const char* text = argv[i + 1];
        if (std::string* const* out = std::get_if<std::string*>(&option->value)) {
            **out = text;
            continue;
        }
        char* end = nullptr;
        const unsigned long long number = std::strtoull(text, &end, 10);
        if (*text < '1' || *text > '9' || *end != '\0') {
            std::fprintf(stderr, "%s takes a positive whole number\n", argv[i]);
            return false;
        }
        if (int* const* out = std::get_if<int*>(&option->value)) {
            **out = number > 1000000000ULL ? 1000000000 : static_cast<int>(number);
        } else {
            *std::get<std::uint64_t*>(option->value) = number;
        }
    }
    return true;
}

}  // namespace drovan::bench
