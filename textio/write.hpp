// Writing records to a unit: the formatted and free-form writers with their destination.
#pragma once
#include <initializer_list>
#include <span>

#include "textio/format.hpp"
#include "textio/units.hpp"

namespace textio {

void write_formatted(out_unit& u, const format_list& list, std::span<const out_item> items = {});
void write_free_form(out_unit& u, std::span<const out_item> items);

inline void write_formatted(out_unit& u, const format_list& list, std::initializer_list<out_item> items) {
    write_formatted(u, list, std::span<const out_item>(items.begin(), items.size()));
}
inline void write_free_form(out_unit& u, std::initializer_list<out_item> items) {
    write_free_form(u, std::span<const out_item>(items.begin(), items.size()));
}

}  // namespace textio
