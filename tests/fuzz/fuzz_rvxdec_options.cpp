// rvxdec's command line: arguments separated by zero bytes go through its
// option parser, and every compare pattern through its file-name formatter,
// together with the JSON quoting of what a user typed.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The program's parser and formatter are private to their files.
#define main rvxdec_main
#include "cli/rvxdec.cpp"
#undef main
#include "cli/rvxdec_output.cpp"
#include "cli/rvxdec_thumbnail.cpp"

#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> args = {"rvxdec"};
    std::string current;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            args.push_back(current);
            current.clear();
        } else {
            current += char(data[i]);
        }
    }
    args.push_back(current);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    Options options;
    const bool parsed = ParseOptions(int(args.size()), argv.data(), &options);
    std::string formatted;
    uint32_t sum = parsed;
    for (const std::string& pattern : {options.decode.comparePattern, args.back()}) {
        for (uint32_t number : {0u, 7u, 4294967295u}) {
            if (FormatNumbered(pattern, number, &formatted)) sum += uint32_t(formatted.size());
        }
    }
    sum += uint32_t(JsonString(options.movie).size());
    fuzz_input::Sink(sum);
    return 0;
}
