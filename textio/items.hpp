// Items handed to the record writers and readers: one value (or target) with its type.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace textio {

// `identifier` is read like a real but kept exact: the nearest double, truncated toward
// zero to a 32-bit integer (never rounded to single precision). It is only read.
enum class item_type : std::uint8_t { integer, real, text, logical, identifier };

// A value to be written. `text` keeps its whole length, trailing blanks included.
struct out_item {
    item_type type;
    std::int32_t integer = 0;
    float real = 0.0f;
    std::string_view text{};
    bool logical = false;
};

inline out_item item_int(std::int32_t v) { return {item_type::integer, v, 0.0f, {}, false}; }
inline out_item item_real(float v) { return {item_type::real, 0, v, {}, false}; }
inline out_item item_text(std::string_view v) { return {item_type::text, 0, 0.0f, v, false}; }
inline out_item item_logical(bool v) { return {item_type::logical, 0, 0.0f, {}, v}; }

// A variable to be read into. For `text`, `length` is the declared length of the
// character field at `target`.
struct in_item {
    item_type type;
    void* target;
    std::size_t length = 0;
};

inline in_item target_int(std::int32_t& v) { return {item_type::integer, &v, 0}; }
inline in_item target_real(float& v) { return {item_type::real, &v, 0}; }
inline in_item target_logical(bool& v) { return {item_type::logical, &v, 0}; }
inline in_item target_identifier(std::int32_t& v) { return {item_type::identifier, &v, 0}; }
inline in_item target_text(char* field, std::size_t length) { return {item_type::text, field, length}; }

}  // namespace textio
