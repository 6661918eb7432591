// Record reader: next_raw_record and read_record with seeks back and rewind, checked at
// every step against the file's lines split by hand. A filler before the fuzzed bytes
// (one long line, many short lines, or many empty ones) moves records across the input
// buffer's refills and makes a seek back land before the buffer.
//
// Input: byte 0 the filler (shape in the top two bits, size in 8 KiB units below them),
// byte 1 the number of operations, then one byte per operation, then the file's bytes.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tests/fuzz/fuzz_support.hpp"
#include "textio/units.hpp"

namespace {

std::string filler(std::uint8_t control) {
    const std::size_t units = control & 63u;
    const std::size_t size = units * 8191;
    switch (control >> 6) {
        case 1: return size ? std::string(size, 'x') + "\n" : std::string();
        case 2: {
            std::string lines;
            while (lines.size() < size) lines += std::string(99, 'y') + "\n";
            return lines;
        }
        case 3: return std::string(units * 4099, '\n');
        default: return {};
    }
}

std::vector<std::string_view> split_records(std::string_view bytes) {
    std::vector<std::string_view> records;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find('\n', start);
        if (end == std::string_view::npos) end = bytes.size();
        records.push_back(bytes.substr(start, end - start));
        start = end + 1;
    }
    return records;
}

std::string cleaned(std::string_view raw) {
    std::string out;
    for (const char c : raw) {
        if (c == '\r') continue;
        if (c == '\t') {
            out.append(8 - out.size() % 8, ' ');
        } else {
            out.push_back(c);
        }
    }
    return out;
}

struct session {
    textio::in_unit unit;
    std::string_view bytes;  // the file
    std::vector<std::string_view> model;
    std::size_t next = 0;  // index of the record the next read must give

    void expect_line() const {
        fuzz::check(unit.line == static_cast<long>(next), "record number differs from the model");
    }

    void read_raw() {
        std::string_view record;
        const bool got = textio::next_raw_record(unit, record);
        fuzz::check(got == (next < model.size()), "next_raw_record: end of file differs from the model");
        if (got) {
            fuzz::check(record == model[next], "next_raw_record: record differs from the model", record);
            ++next;
        }
        expect_line();
    }

    void read_clean() {
        std::string record;
        const bool got = textio::read_record(unit, record);
        fuzz::check(got == (next < model.size()), "read_record: end of file differs from the model");
        if (got) {
            fuzz::check(record == cleaned(model[next]), "read_record: record differs from the model", record);
            ++next;
        }
        expect_line();
    }

    // The record read last once more, through a view of the mapping set at its start; the
    // unit stays where it is.
    void view_back() {
        if (next == 0 || !unit.mapped) return;
        textio::in_unit view;
        textio::view_mapping(unit, view, model[next - 1].data() - bytes.data(), static_cast<long>(next));
        std::string_view record;
        fuzz::check(textio::next_raw_record(view, record) && record == model[next - 1],
                    "a view gives another record than the unit gave", record);
        fuzz::check(view.line == static_cast<long>(next), "a view counts lines differently");
        expect_line();
    }
};

}  // namespace

const fuzz::target_settings fuzz::target = {};

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::byte_source in{data, size};
    const std::string pad = filler(in.take());
    std::vector<std::uint8_t> operations(in.take() & 63u);
    for (std::uint8_t& op : operations) op = in.take();
    const std::string bytes = pad + std::string(in.rest());
    const std::string path = fuzz::scratch_path("records.txt");
    fuzz::write_file(path, bytes);

    session s;
    s.bytes = bytes;
    s.model = split_records(bytes);
    try {
        textio::open_input(s.unit, 12, path);
        for (const std::uint8_t op : operations) {
            switch (op % 5) {
                case 0: s.read_raw(); break;
                case 1: s.read_clean(); break;
                case 2:
                case 3: s.view_back(); break;
                default:
                    for (int k = 0; k <= op / 5 * 64; ++k) s.read_raw();
                    break;
            }
        }
        while (s.next < s.model.size()) s.read_raw();
        s.read_raw();  // the end of the file, once more after it was met
        s.view_back();
        textio::close_input(s.unit);
    } catch (const fuzz::raised& r) {
        textio::close_all_units();
        fuzz::fail("the record reader raised a failure on a readable file", r.operation);
    }
    return 0;
}
