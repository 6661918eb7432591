// Fixed-width fields for the record assembly: the aw writer and the fill that nX and
// overflowing fields use. The iw and fw.d writers are public (textio/format.hpp).
#pragma once
#include <string>
#include <string_view>

namespace textio {

inline void append_blanks(std::string& out, int count) {
    if (count > 0) out.append(static_cast<std::size_t>(count), ' ');
}

inline void append_stars(std::string& out, int width) { out.append(static_cast<std::size_t>(width), '*'); }

// aw: the leftmost w characters, or blanks in front up to w; a alone (width 0): the whole
// text.
void append_text_field(std::string& out, std::string_view text, int width);

}  // namespace textio
