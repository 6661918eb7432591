#include "textio/detail/read_support.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "textio/convert.hpp"
#include "textio/failure.hpp"

namespace textio {

[[noreturn]] void raise_end_of_input(const in_unit& u) {
    raise_failure(failure_at(failure_kind::end_of_file, "READ", u.unit, u.name, u.line + 1));
}

[[noreturn]] void raise_illegal_character(const in_unit& u, long line, int field, std::string_view text) {
    io_failure failure = failure_at(failure_kind::illegal_character, "READ", u.unit, u.name, line);
    failure.field = field;
    failure.text = text;
    raise_failure(std::move(failure));
}

[[noreturn]] void raise_value_too_long(const in_unit& u) {
    io_failure failure = failure_at(failure_kind::system, "READ", u.unit, u.name, u.line);
    failure.error_number = EOVERFLOW;
    raise_failure(std::move(failure));
}

namespace {

// `raw` with CRs dropped and TABs cleaned from column `column`: the view itself when it
// has neither, else the cleaned copy in `scratch`.
std::string_view cleaned(std::string_view raw, std::string& scratch, std::size_t column, tab_rule tabs) {
    if (!std::memchr(raw.data(), '\r', raw.size()) && !std::memchr(raw.data(), '\t', raw.size())) return raw;
    if (tabs == tab_rule::to_tab_stop) {
        clean_record(raw, scratch, column);
        return scratch;
    }
    scratch.clear();
    for (const char c : raw) {
        if (c != '\r') scratch.push_back(c == '\t' ? ' ' : c);
    }
    return scratch;
}

}  // namespace

bool load_record(in_unit& u, std::string& scratch, std::string_view& record, tab_rule tabs) {
    std::string_view raw;
    if (!next_raw_record(u, raw)) return false;
    record = cleaned(raw, scratch, 0, tabs);
    return true;
}

bool load_record_piece(in_unit& u, std::string& scratch, std::string_view& piece, std::size_t& column, tab_rule tabs) {
    std::string_view raw;
    if (!next_record_piece(u, raw)) return false;
    piece = cleaned(raw, scratch, column, tabs);
    column += piece.size();
    return true;
}

void store_integer(const in_item& item, std::int32_t value) {
    switch (item.type) {
        case item_type::integer:
        case item_type::identifier: *static_cast<std::int32_t*>(item.target) = value; break;
        case item_type::real: *static_cast<float*>(item.target) = static_cast<float>(value); break;
        case item_type::logical: *static_cast<bool*>(item.target) = value != 0; break;
        case item_type::text: break;
    }
}

void store_real(const in_item& item, float value) {
    switch (item.type) {
        case item_type::integer:
        case item_type::identifier: *static_cast<std::int32_t*>(item.target) = truncate_to_int32(value); break;
        case item_type::real: *static_cast<float*>(item.target) = value; break;
        case item_type::logical: *static_cast<bool*>(item.target) = value != 0.0f; break;
        case item_type::text: break;
    }
}

void store_text(const in_item& item, std::string_view text) {
    if (item.type != item_type::text) return;
    char* field = static_cast<char*>(item.target);
    const std::size_t count = std::min(item.length, text.size());
    std::memcpy(field, text.data(), count);
    std::memset(field + count, ' ', item.length - count);
}

}  // namespace textio
