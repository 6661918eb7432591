// The quick record judge of the observation reader against the general free-form rules:
// whatever it passes over as another station's record, or gathers as the wanted station's,
// the general reader must read as one whole record with the same verdict and the same date
// and value; and over records judged once for every station, the pass by identifier must
// stop exactly at the wanted station's records.
//
// Input: one control byte (the wanted identifier and how the two judges alternate), then
// the records.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "engine/record_skim.hpp"
#include "tests/fuzz/fuzz_support.hpp"
#include "textio/read.hpp"

namespace {

constexpr std::int32_t wanted_choices[] = {1, 12, 123, 1950, 10160355, 16777215, 17508491, 123456789, 2147483647};

struct reference_reader {
    textio::in_unit unit;
    std::int32_t id = 0;
    float values[4] = {0, 0, 0, 0};

    // One record by the general rules; false unless it was exactly one good record.
    bool read_one() {
        const long before = unit.line;
        const textio::in_item targets[] = {textio::target_identifier(id), textio::target_real(values[1]),
                                           textio::target_real(values[2]), textio::target_real(values[3])};
        try {
            if (textio::read_free_form(unit, targets, true) != textio::read_outcome::ok) return false;
        } catch (const fuzz::raised&) {
            return false;
        }
        return unit.line == before + 1;
    }
};

std::vector<std::string_view> split_records(std::string_view text) {
    std::vector<std::string_view> records;
    while (!text.empty()) {
        const std::size_t stop = text.find('\n');
        records.push_back(text.substr(0, stop));
        text.remove_prefix(stop + 1);
    }
    return records;
}

}  // namespace

const fuzz::target_settings fuzz::target = {};

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::byte_source bytes{data, size};
    const std::uint8_t control = bytes.take();
    const std::int32_t wanted = wanted_choices[control % std::size(wanted_choices)];
    const engine::wanted_digits digits = engine::digits_of(wanted);
    const std::string text(bytes.rest());
    const std::string padded = text + std::string(64, '\n');
    const std::string path = fuzz::scratch_path("records.txt");
    fuzz::write_file(path, text);
    reference_reader reference;
    textio::open_input(reference.unit, 13, path);

    std::string judged_text;             // every record either judge took, in order
    std::vector<bool> judged_is_wanted;  // its verdict by the general rules
    std::size_t pos = 0;
    unsigned turn = control >> 3;
    while (pos < text.size()) {
        const std::string_view rest(padded.data() + pos, text.size() - pos);
        const bool gathering = (turn++ & 1) != 0;
        std::vector<float> dates, monthly;
        std::size_t taken;
        bool last_is_other = false;
        if (gathering) {
            const engine::gather_result g = engine::gather_wanted_records(rest, digits, dates, monthly);
            taken = g.bytes;
            last_is_other = g.ended_by_other_station;
        } else {
            taken = engine::skim_other_stations(rest, digits).bytes;
        }
        const std::vector<std::string_view> records = split_records(std::string_view(text).substr(pos, taken));
        for (std::size_t i = 0; i < records.size(); ++i) {
            fuzz::check(reference.read_one(), "a record taken quickly is not one whole record", records[i]);
            const bool own = reference.id == wanted;
            const bool expected_own = gathering && !(last_is_other && i + 1 == records.size());
            fuzz::check(own == expected_own, "the quick judge took a record with the wrong identifier", records[i]);
            if (own) {
                fuzz::check(std::memcmp(&reference.values[2], &dates[i], sizeof(float)) == 0, "date differs",
                            records[i]);
                fuzz::check(std::memcmp(&reference.values[3], &monthly[i], sizeof(float)) == 0, "value differs",
                            records[i]);
            }
            judged_text.append(records[i]).push_back('\n');
            judged_is_wanted.push_back(own);
        }
        pos += taken;
        if (pos >= text.size()) break;
        const std::size_t stop = text.find('\n', pos);
        pos = stop == std::string::npos ? text.size() : stop + 1;
        std::string_view skipped;
        textio::next_raw_record(reference.unit, skipped);
    }
    textio::close_input(reference.unit);

    // Over the records judged once for every station, the identifier alone decides.
    const std::string judged_padded = judged_text + std::string(64, '\n');
    engine::judged_records judged;
    engine::judge_records(std::string_view(judged_padded.data(), judged_text.size()), {}, judged);
    fuzz::check(engine::judged_count(judged) == judged_is_wanted.size(), "judging once took other records");
    std::size_t record = 0;
    while (record < engine::judged_count(judged)) {
        const engine::skim_result s = engine::skim_judged_records(judged, record, digits);
        for (long i = 0; i < s.records; ++i, ++record)
            fuzz::check(!judged_is_wanted[record], "the identifier pass went over a wanted record");
        if (record >= engine::judged_count(judged)) break;
        fuzz::check(judged_is_wanted[record], "the identifier pass stopped at another station's record");
        ++record;
    }
    return 0;
}
