// Free-form reads (read_free_form) of one to four items of any type from a file, with and
// without the end-of-file outcome. Without it the end of the file is fatal; the throwing
// handler brings that back here, and the failure must be the end of file or a bad number
// on a READ of the unit, never anything else.
//
// Input: byte 0 the item count (bits 0-1, plus one) and whether the end of file is an
// outcome (bit 2); byte 1 the item types, two bits each; then the file's bytes.
#include <cstdint>
#include <cstring>
#include <string>

#include "tests/fuzz/fuzz_support.hpp"
#include "textio/read.hpp"

namespace {

constexpr int observations_unit = 13;
constexpr int most_reads = 4096;

struct targets {
    std::int32_t integer[4] = {};
    float real[4] = {};
    bool logical[4] = {};
    char text[4][16];
};

}  // namespace

const fuzz::target_settings fuzz::target = {};

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::byte_source in{data, size};
    const std::uint8_t shape = in.take();
    const std::uint8_t types = in.take();
    const int count = (shape & 3) + 1;
    const bool end_of_file_allowed = (shape & 4) != 0;
    const std::string path = fuzz::scratch_path("free_form.txt");
    fuzz::write_file(path, in.rest());

    targets t;
    std::memset(t.text, ' ', sizeof t.text);
    textio::in_item items[4];
    for (int i = 0; i < count; ++i) {
        switch ((types >> (2 * i)) & 3) {
            case 0: items[i] = textio::target_int(t.integer[i]); break;
            case 1: items[i] = textio::target_real(t.real[i]); break;
            case 2: items[i] = textio::target_logical(t.logical[i]); break;
            default: items[i] = textio::target_text(t.text[i], sizeof t.text[i]); break;
        }
    }

    textio::in_unit unit;
    bool ended = false;
    try {
        textio::open_input(unit, observations_unit, path);
        for (int n = 0; n < most_reads && !ended; ++n) {
            const long line_before = unit.line;
            const textio::read_outcome outcome =
                textio::read_free_form(unit, std::span<const textio::in_item>(items, count), end_of_file_allowed);
            if (outcome == textio::read_outcome::end_of_file) {
                fuzz::check(end_of_file_allowed, "end-of-file outcome returned where none was requested");
                ended = true;
            } else {
                fuzz::check(unit.line > line_before, "a read that succeeded consumed no record");
            }
        }
        textio::close_input(unit);
    } catch (const fuzz::raised& r) {
        textio::close_all_units();
        fuzz::check(r.unit == observations_unit && r.operation == "READ", "failure names another operation or unit",
                    r.operation);
        fuzz::check(r.kind == textio::failure_kind::illegal_character ||
                        (r.kind == textio::failure_kind::end_of_file && !end_of_file_allowed),
                    "unexpected kind of failure");
    }
    return 0;
}
