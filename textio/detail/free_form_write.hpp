// The free-form text of one item, which the record assembly also uses for a number or a
// logical written under a.
#pragma once
#include <string>

#include "textio/items.hpp"

namespace textio {

// Appends the item as a free-form record shows it. A character item gets a blank in front
// unless `after_text` (it opens the record or follows another character item).
void append_free_item(std::string& out, const out_item& item, bool after_text);

}  // namespace textio
