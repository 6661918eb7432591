#pragma once
#include <cstdint>

namespace util {

// Fills a character field of `length` positions with blanks; a negative length counts as 0.
void blank(char* field, std::int32_t length);

}  // namespace util
