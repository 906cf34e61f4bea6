// Seeded test data, the same bytes on every run and compiler: random bytes
// that do not compress, and text made of a made-up vocabulary that does.
// For the native tests, the Windows tests and the benchmarks alike.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <random>
#include <string>
#include <vector>

// One byte per draw of a Mersenne Twister seeded with `seed`.
inline std::vector<uint8_t> RandomBytes(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> data(size);
    for (uint8_t& b : data) b = static_cast<uint8_t>(rng());
    return data;
}

// Text-like bytes: words of 2 to 9 letters from a vocabulary of
// `vocabularySize` made-up words, so they compress and repeat as text does.
// Words are separated by spaces; with `lineEvery` n > 0, about one word in n
// ends its line instead.
inline std::vector<uint8_t> MadeUpProse(size_t size, uint32_t seed, size_t vocabularySize, uint32_t lineEvery = 0) {
    std::mt19937 rng(seed);
    std::vector<std::string> vocabulary(vocabularySize);
    for (std::string& word : vocabulary)
        for (size_t n = 2 + rng() % 8; word.size() < n;) word += static_cast<char>('a' + rng() % 26);
    std::vector<uint8_t> data;
    while (data.size() < size) {
        const std::string& w = vocabulary[rng() % vocabulary.size()];
        data.insert(data.end(), w.begin(), w.end());
        data.push_back(lineEvery != 0 && rng() % lineEvery == 0 ? '\n' : ' ');
    }
    data.resize(size);
    return data;
}
