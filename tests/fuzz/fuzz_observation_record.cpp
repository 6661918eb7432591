// The observation record reader (a short route for plain records, the general rules where
// the record lies for the others) against the general free-form reader reading in order:
// the same file read record by record both ways must give the same exact identifier and
// values (bit for bit, empty fields keeping the previous record's), the same end, and the
// same failure on the same line.
//
// Input: the file's bytes.
#include <cstdint>
#include <cstring>
#include <string>

#include "engine/observation_record.hpp"
#include "tests/fuzz/fuzz_support.hpp"
#include "textio/read.hpp"

namespace {

constexpr int observations_unit = 13;
constexpr int most_reads = 4096;

struct outcome {
    bool ended = false;
    bool failed = false;
    textio::failure_kind kind{};
    long line = 0;
};

bool same_bits(const engine::carried_values& a, const engine::carried_values& b) {
    return a.id == b.id && std::memcmp(&a.date, &b.date, sizeof(float)) == 0 &&
           std::memcmp(&a.value, &b.value, sizeof(float)) == 0;
}

}  // namespace

const fuzz::target_settings fuzz::target = {};

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = fuzz::scratch_path("observations.txt");
    fuzz::write_file(path, std::string_view(reinterpret_cast<const char*>(data), size));

    textio::in_unit quick, general;
    engine::carried_values quick_values, general_values;
    float second = 0.0f;
    const textio::in_item targets[] = {textio::target_identifier(general_values.id), textio::target_real(second),
                                       textio::target_real(general_values.date),
                                       textio::target_real(general_values.value)};
    std::int64_t offset = 0;
    long line = 1;
    textio::open_input(quick, observations_unit, path);
    textio::open_input(general, observations_unit, path);
    for (int n = 0; n < most_reads; ++n) {
        outcome a, b;
        try {
            const engine::record_reading r = engine::read_record_at(quick, offset, line);
            quick_values = engine::merged(quick_values, r.given, r.mask);
            a.ended = r.is_end;
            a.line = r.place.last_line;
            offset = r.place.end;
            line = r.place.last_line + 1;
        } catch (const fuzz::raised& r) {
            a.failed = true;
            a.kind = r.kind;
            a.line = r.line;
        }
        try {
            b.ended = textio::read_free_form(general, targets, true) == textio::read_outcome::end_of_file;
        } catch (const fuzz::raised& r) {
            b.failed = true;
            b.kind = r.kind;
            b.line = r.line;
        }
        if (!b.failed) b.line = general.line;
        fuzz::check(a.failed == b.failed, "one reader failed and the other did not");
        if (a.failed) {
            fuzz::check(a.kind == b.kind, "the readers failed differently");
            fuzz::check(a.line == b.line, "the readers failed on different records");
            break;
        }
        fuzz::check(a.ended == b.ended, "the readers disagree about the end of the file");
        // At the end the general reader's line count stays on the last line it read.
        if (!a.ended) fuzz::check(a.line == b.line, "the readers stand on different records");
        fuzz::check(same_bits(quick_values, general_values), "the readers give different values");
        if (a.ended) break;
    }
    textio::close_all_units();
    return 0;
}
