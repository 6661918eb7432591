#include "tests/support/text_layouts.hpp"

#include <algorithm>

#include "tests/support/text.hpp"

namespace support {

namespace x = e2e::engine_expect;

std::string hundredths_text(long long hundredths) {
    const long long magnitude = hundredths < 0 ? -hundredths : hundredths;
    std::string fraction = decimal(magnitude % 100);
    if (fraction.size() < 2) fraction = "0" + fraction;
    return (hundredths < 0 ? "-" : "") + decimal(magnitude / 100) + "." + fraction;
}

namespace {

// Records written as archives write them, and as hand editing leaves them: commas, null
// values that keep the value of the record before (an identifier too), a record that goes
// on into the next line, a slash, text after the fourth value, empty lines. Stations come
// in blocks, in random order, some in two blocks, some listed but without records; the
// catalogue is shuffled, so searches run on, rewind and report missing stations.
std::string record_text(std::mt19937& random, const std::string& id, const std::string& date,
                        const std::string& value) {
    switch (random() % 12) {
        case 0: return id + "," + "1," + date + "," + value;
        case 1: return id + ",," + date + "," + value;
        case 2: return ",1," + date + "," + value;
        case 3: return id + " 1\n" + date + " " + value;
        case 4: return id + " 1 " + date + "\n," + value;
        case 5: return id + " 1 " + date + " /";
        case 6: return id + "\t1\t" + date + "\t" + value + "\tflag=ok, source/2";
        case 7: return "\n" + id + " 1 " + date + " " + value;
        case 8: return id + " 1 , " + value;
        default: return id + " 1 " + date + " " + value;
    }
}

}  // namespace

text_layout random_layout(std::uint32_t seed) {
    std::mt19937 random(seed);
    text_layout layout;
    const int station_count = 2 + static_cast<int>(random() % 5);
    std::vector<std::string> blocks;
    for (int i = 0; i < station_count; ++i) {
        const std::string id = decimal(101 + i);
        const std::string lat = decimal(10 + i) + ".00", lon = decimal(20 + i) + ".00";
        layout.stations.push_back(id + " " + lat + " " + lon + " 1.0");
        layout.catalogue.push_back({101 + i, x::real_from_text(lat), x::real_from_text(lon), 1.0f});
        if (random() % 6 == 0) continue;  // listed, without records
        // Months of 1950-1951 in order, split into one or two blocks.
        std::vector<std::string> records;
        for (int m = 0; m < 24; ++m) {
            if (random() % 4 == 0) continue;
            const std::string value = hundredths_text(static_cast<long long>(random() % 6000) - 2000);
            records.push_back(record_text(random, id, x::month_date_text(1950 + m / 12, m % 12 + 1), value));
        }
        const std::size_t split = records.empty() || random() % 3 ? records.size() : random() % records.size();
        std::string first, second;
        for (std::size_t k = 0; k < records.size(); ++k) (k < split ? first : second) += records[k] + "\n";
        for (const std::string* part : {&first, &second})
            if (!part->empty()) blocks.push_back(*part);
    }
    std::shuffle(blocks.begin(), blocks.end(), random);
    std::string text;
    // A first record that leaves its identifier empty takes the one carried in: nothing
    // read yet on the first pass, the file's last record after a rewind.
    if (random() % 5 == 0) text += ", 1 " + x::month_date_text(1950, 1 + static_cast<int>(random() % 12)) + " 1.50\n";
    for (const std::string& b : blocks) text += b;
    // A last record cut short by the end of the file: its values are kept all the same.
    if (random() % 5 == 0) text += decimal(101 + static_cast<int>(random() % 3)) + " 1\n";
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = text.find('\n', at);
        layout.lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    std::vector<std::size_t> order(layout.stations.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::shuffle(order.begin(), order.end(), random);
    text_layout shuffled = layout;
    for (std::size_t i = 0; i < order.size(); ++i) {
        shuffled.stations[i] = layout.stations[order[i]];
        shuffled.catalogue[i] = layout.catalogue[order[i]];
    }
    return shuffled;
}

}  // namespace support
