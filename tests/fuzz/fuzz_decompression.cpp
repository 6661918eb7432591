// Decompressing input: a file compressed here in gzip members, zstd frames or xz streams
// (or fuzzed bytes behind a format's magic), read through a unit that decompresses it,
// part record by record and the rest through spool_rest_of_input, as data.txt is read.
// Whole streams give the text's records exactly; damaged or fuzzed ones either read or
// fail with a compressed-data failure, never otherwise.
//
// Input: byte 0 the format (low two bits: gzip, zstd, xz, or raw bytes behind a magic) and
// the number of pieces compressed one after the other (next two bits, 1 to 4); byte 1 the
// records read before the rest is mapped; byte 2 the damage (0 none, else where a byte is
// flipped, or the stream cut when byte 3 is 0); byte 3 the bits flipped; then the text.
#include <lzma.h>
#include <zlib.h>
#include <zstd.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tests/fuzz/fuzz_support.hpp"
#include "textio/units.hpp"

namespace {

std::string gzip_member(std::string_view text) {
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, static_cast<uLong>(text.size())) + 32, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    fuzz::check(deflate(&z, Z_FINISH) == Z_STREAM_END, "zlib could not compress the text");
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

std::string zstd_frame(std::string_view text) {
    std::string out(ZSTD_compressBound(text.size()), '\0');
    const std::size_t size = ZSTD_compress(out.data(), out.size(), text.data(), text.size(), 3);
    fuzz::check(!ZSTD_isError(size), "libzstd could not compress the text");
    out.resize(size);
    return out;
}

std::string xz_stream(std::string_view text) {
    std::string out(lzma_stream_buffer_bound(text.size()), '\0');
    std::size_t size = 0;
    const lzma_ret status =
        lzma_easy_buffer_encode(1, LZMA_CHECK_CRC64, nullptr, reinterpret_cast<const std::uint8_t*>(text.data()),
                                text.size(), reinterpret_cast<std::uint8_t*>(out.data()), &size, out.size());
    fuzz::check(status == LZMA_OK, "liblzma could not compress the text");
    out.resize(size);
    return out;
}

std::string compressed(int format, int pieces, std::string_view text) {
    std::string out;
    const std::size_t step = text.size() / static_cast<std::size_t>(pieces) + 1;
    for (std::size_t from = 0; from == 0 || from < text.size(); from += step) {
        const std::string_view piece = text.substr(from, step);
        out += format == 0 ? gzip_member(piece) : format == 1 ? zstd_frame(piece) : xz_stream(piece);
    }
    return out;
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

// Reads every record: `before` through the buffer, the rest once spool_rest_of_input has
// copied it whole.
std::vector<std::string> read_all(textio::in_unit& unit, std::size_t before) {
    std::vector<std::string> records;
    std::string_view record;
    while (records.size() < before && textio::next_raw_record(unit, record)) records.emplace_back(record);
    textio::spool_rest_of_input(unit);
    textio::await_input(unit, SIZE_MAX);
    while (textio::next_raw_record(unit, record)) records.emplace_back(record);
    return records;
}

}  // namespace

const fuzz::target_settings fuzz::target = {};

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::byte_source in{data, size};
    const std::uint8_t control = in.take();
    const std::size_t before = in.take();
    const std::uint8_t where = in.take();
    const std::uint8_t flip = in.take();
    const std::string_view text = in.rest();
    const int format = control & 3;
    std::string bytes;
    if (format == 3) {
        static const std::string magics[] = {"\x1f\x8b", std::string("\x28\xb5\x2f\xfd", 4),
                                             std::string("\xfd"
                                                         "7zXZ\0",
                                                         6)};
        bytes = magics[(control >> 2) % 3] + std::string(text);
    } else {
        bytes = compressed(format, ((control >> 2) & 3) + 1, text);
    }
    const bool damaged = format == 3 || where != 0;
    if (where != 0 && !bytes.empty()) {
        const std::size_t at = where * bytes.size() / 256;
        if (flip == 0) {
            bytes.resize(at);
        } else {
            bytes[at] = static_cast<char>(bytes[at] ^ flip);
        }
    }
    const std::string path = fuzz::scratch_path("compressed");
    fuzz::write_file(path, bytes);

    textio::in_unit unit;
    try {
        textio::open_input(unit, 13, path, textio::input_access::mapped_when_possible,
                           textio::input_coding::decompress_when_compressed);
        const std::vector<std::string> records = read_all(unit, before);
        textio::close_input(unit);
        if (damaged) return 0;
        const std::vector<std::string_view> model = split_records(text);
        fuzz::check(records.size() == model.size(), "a whole stream gives another number of records");
        for (std::size_t i = 0; i < model.size(); ++i)
            fuzz::check(records[i] == model[i], "a whole stream gives another record", records[i]);
    } catch (const fuzz::raised& r) {
        textio::close_all_units();
        fuzz::check(damaged, "a whole stream failed to read", r.message);
        fuzz::check(r.kind == textio::failure_kind::bad_compressed_data, "a damaged stream failed otherwise",
                    r.message);
    }
    return 0;
}
