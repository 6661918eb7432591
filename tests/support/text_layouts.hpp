// Random archives written as the field writes them and as hand editing leaves them, for
// the tests that compare the program with the search over the text.
#pragma once
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "tests/support/engine_expect.hpp"

namespace support {

// A number of hundredths as decimal text with two places: -2050 gives "-20.50".
std::string hundredths_text(long long hundredths);

struct text_layout {
    std::vector<std::string> stations;  // catalogue lines
    std::vector<e2e::engine_expect::catalogue_station> catalogue;
    std::vector<std::string> lines;  // data.txt after its header
};

// Stations 101 and on in blocks of 1950-1951 records in every written form, in random
// order, some in two blocks, some listed without records; the catalogue shuffled.
text_layout random_layout(std::uint32_t seed);

}  // namespace support
