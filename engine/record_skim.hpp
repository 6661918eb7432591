// Passing quickly over the records of other stations while a station's block is searched:
// a record is judged by whole 64-byte blocks of character classes instead of character by
// character. Only records that the plain-record reader would read as four plain numbers,
// with an identifier that cannot be the wanted one, are passed over; everything else is
// left to the reader.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace engine {

// Identifiers written as plain digits without leading zero have at most this many digits
// when they fit in 32 bits.
inline constexpr std::size_t max_plain_identifier_digits = 10;

// The wanted identifier as the digits a plain record would carry: usable for every
// positive identifier, since one written as plain digits without leading zero is the
// station exactly when its digits are these.
struct wanted_digits {
    char text[max_plain_identifier_digits] = {};
    std::uint64_t bytes = 0;  // the first 8 digit characters, first in the lowest byte
    std::uint16_t more = 0;   // the 9th and 10th, when there are that many
    int length = 0;
    bool usable = false;
};

wanted_digits digits_of(std::int32_t id);

struct skim_result {
    std::size_t bytes = 0;               // length of the records passed over
    long records = 0;                    // how many
    std::size_t last_record_offset = 0;  // where the last of them starts
};

// A record passed over whose identifier differs from the one before it (or the first).
struct record_start {
    std::size_t offset = 0;  // within the text skimmed
    long record = 0;         // how many records before it were passed over
};

// Passes over the leading whole records of `text` that belong to other stations. `text`
// must be followed by at least 64 readable bytes. Does nothing on a processor without
// the needed instructions. With `starts`, the records that start a run of one identifier
// are appended to it.
skim_result skim_other_stations(std::string_view text, const wanted_digits& wanted,
                                std::vector<record_start>* starts = nullptr);

// Passes over the leading whole records of `text` up to the first that opens with the
// wanted identifier. Only for records already judged plain, with plain-digit identifiers,
// by the two functions here: for them the identifier alone decides. `text` must end at a
// record's end and be followed by at least 64 readable bytes.
skim_result skim_judged_records(std::string_view text, const wanted_digits& wanted);

struct gather_result {
    std::size_t bytes = 0;
    long records = 0;
    std::size_t last_record_offset = 0;
    bool ended_by_other_station = false;  // the last record passed over is another station's
};

// Reads the leading whole records of `text` while they are the wanted station's plain
// records, appending their dates and values; a plain record of another station is read
// too and ends the gathering (the block ends there). Stops without reading at a record
// it cannot judge.
gather_result gather_wanted_records(std::string_view text, const wanted_digits& wanted, std::vector<float>& dates,
                                    std::vector<float>& values);

}  // namespace engine
