#include "tests/support/text.hpp"

#include <cstdio>

namespace support {

namespace {

bool is_name_character(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

std::string word_for(unsigned char c) {
    switch (c) {
        case ' ': return "sp";
        case '\t': return "tab";
        case '\r': return "cr";
        case '\n': return "lf";
        case '.': return "dot";
        case ',': return "comma";
        case '-': return "minus";
        case '+': return "plus";
        case '*': return "star";
        case '/': return "slash";
        case '\'': return "quote";
        case '"': return "dquote";
        case '_': return "us";
        default: break;
    }
    char hex[8];
    std::snprintf(hex, sizeof hex, "x%02X", c);
    return hex;
}

}  // namespace

std::string decimal(long long value) { return std::to_string(value); }

std::vector<std::string> numbered_header(const std::string& stem, int count) {
    std::vector<std::string> lines;
    for (int i = 1; i <= count; ++i) lines.push_back(stem + " header line " + decimal(i));
    return lines;
}

std::vector<std::string> first_five(const std::vector<std::string>& header) {
    return {header.begin(), header.begin() + 5};
}

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

std::string name_part(std::string_view text) {
    if (text.empty()) return "empty";
    std::string name;
    bool after_word = false;
    for (const char c : text) {
        if (is_name_character(c)) {
            if (after_word) name += '_';
            name += c;
            after_word = false;
        } else {
            name += '_';
            name += word_for(static_cast<unsigned char>(c));
            after_word = true;
        }
    }
    return name;
}

}  // namespace support
