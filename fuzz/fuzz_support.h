// What the fuzz targets share: turning the fuzzer's bytes into texts, and stopping on a finding.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace tavfuzz {

// A finding: the input is kept by libFuzzer as a crash.
[[noreturn]] inline void Finding(const std::string& what) {
    std::fprintf(stderr, "finding: %s\n", what.c_str());
    std::abort();
}

// The input cut into texts at each NUL byte (a text may hold any other byte); at most `max`.
inline std::vector<std::string> Texts(const uint8_t* data, size_t size, size_t max) {
    std::vector<std::string> texts(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] != 0) {
            texts.back() += static_cast<char>(data[i]);
        } else if (texts.size() == max) {
            break;
        } else {
            texts.emplace_back();
        }
    }
    return texts;
}

}  // namespace tavfuzz
