// varnex-archive (the CMake target varnex_archive): writes a synthetic Valmora station
// archive (site_summary.txt and data.txt) for development, demonstrations and end-to-end
// tests.
//
// The output depends only on the options: every random draw comes from splitmix64
// streams seeded from --seed, temperatures are computed in integer hundredths of a
// degree, and every number is rendered by the integer code below, so the same
// command line gives the same bytes on any machine. Each station draws its values
// from its own stream over the whole year range, so switching an irregularity on
// (missing months, gaps, line ends) never changes the values that remain.
#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace archive {

// ---------------------------------------------------------------------------
// Random numbers

struct rng {
    std::uint64_t state;
};

std::uint64_t mix64(std::uint64_t z) {
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

std::uint64_t next_u64(rng& r) {
    r.state += 0x9e3779b97f4a7c15ULL;
    return mix64(r.state);
}

// Independent stream number `stream` of the run seeded with `seed`.
rng make_stream(std::uint64_t seed, std::uint64_t stream) {
    return rng{mix64(seed ^ mix64(stream * 0x9e3779b97f4a7c15ULL + 0x632be59bd9b4e019ULL))};
}

// Uniform in [0, n); n > 0.
std::uint64_t below(rng& r, std::uint64_t n) {
    return static_cast<std::uint64_t>((static_cast<unsigned __int128>(next_u64(r)) * n) >> 64);
}

// Uniform in [lo, hi], both inclusive.
std::int64_t between(rng& r, std::int64_t lo, std::int64_t hi) {
    return lo + static_cast<std::int64_t>(below(r, static_cast<std::uint64_t>(hi - lo) + 1));
}

// A probability is turned into a 53-bit threshold once, so the draw itself is integer.
std::uint64_t chance_threshold(double p) {
    if (p <= 0.0) return 0;
    if (p >= 1.0) return std::uint64_t{1} << 53;
    return static_cast<std::uint64_t>(p * 9007199254740992.0);
}

bool draw_chance(rng& r, std::uint64_t threshold) { return (next_u64(r) >> 11) < threshold; }

// Roughly normal noise with standard deviation `sd` (sum of four uniforms).
int draw_noise(rng& r, int sd) {
    const std::int64_t half = static_cast<std::int64_t>(sd) * 866 / 1000;
    std::int64_t sum = 0;
    for (int i = 0; i < 4; ++i) sum += between(r, -half, half);
    return static_cast<int>(sum);
}

// Deterministic shuffle of `order`.
void shuffle_indices(std::vector<int>& order, rng& r) {
    for (std::size_t i = order.size(); i > 1; --i) {
        const std::size_t j = below(r, i);
        std::swap(order[i - 1], order[j]);
    }
}

// Picks `count` distinct entries of `candidates` (order of the result: ascending).
std::vector<int> pick_some(std::vector<int> candidates, std::size_t count, rng& r) {
    shuffle_indices(candidates, r);
    if (count < candidates.size()) candidates.resize(count);
    std::sort(candidates.begin(), candidates.end());
    return candidates;
}

// ---------------------------------------------------------------------------
// Number text, without printf or any locale

struct num_text {
    char chars[32];
    int length = 0;
    std::string_view view() const { return std::string_view(chars, static_cast<std::size_t>(length)); }
};

num_text integer_text(std::int64_t value) {
    num_text t;
    char digits[24];
    int n = 0;
    std::uint64_t magnitude = value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    do {
        digits[n++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) t.chars[t.length++] = '-';
    while (n > 0) t.chars[t.length++] = digits[--n];
    return t;
}

// `scaled` holds the value times 10^decimals; the minus sign is kept for -0.05.
num_text fixed_text(std::int64_t scaled, int decimals) {
    std::int64_t unit = 1;
    for (int i = 0; i < decimals; ++i) unit *= 10;
    const bool negative = scaled < 0;
    const std::uint64_t magnitude =
        negative ? 0 - static_cast<std::uint64_t>(scaled) : static_cast<std::uint64_t>(scaled);
    num_text t = integer_text(static_cast<std::int64_t>(magnitude / static_cast<std::uint64_t>(unit)));
    if (negative) {
        std::memmove(t.chars + 1, t.chars, static_cast<std::size_t>(t.length));
        t.chars[0] = '-';
        ++t.length;
    }
    if (decimals > 0) {
        t.chars[t.length++] = '.';
        std::uint64_t fraction = magnitude % static_cast<std::uint64_t>(unit);
        for (int i = decimals - 1; i >= 0; --i) {
            t.chars[t.length + i] = static_cast<char>('0' + fraction % 10);
            fraction /= 10;
        }
        t.length += decimals;
    }
    return t;
}

// ---------------------------------------------------------------------------
// Buffered output file

struct sink {
    std::FILE* file = nullptr;
    std::string path;
    std::vector<char> buffer;
    std::size_t used = 0;
    bool crlf = false;
    bool line_open = false;  // a line has been started and its end is still owed
    bool failed = false;
};

constexpr std::size_t sink_capacity = std::size_t{8} << 20;

void flush_sink(sink& s) {
    if (s.used != 0 && std::fwrite(s.buffer.data(), 1, s.used, s.file) != s.used) s.failed = true;
    s.used = 0;
}

void ensure_room(sink& s, std::size_t bytes) {
    if (s.used + bytes > s.buffer.size()) flush_sink(s);
}

void put_text(sink& s, std::string_view text) {
    if (text.size() > s.buffer.size()) {
        flush_sink(s);
        if (std::fwrite(text.data(), 1, text.size(), s.file) != text.size()) s.failed = true;
        return;
    }
    ensure_room(s, text.size());
    std::memcpy(s.buffer.data() + s.used, text.data(), text.size());
    s.used += text.size();
}

void put_char(sink& s, char c) {
    ensure_room(s, 1);
    s.buffer[s.used++] = c;
}

// Text right-aligned in `width` columns.
void put_right(sink& s, std::string_view text, std::size_t width) {
    for (std::size_t i = text.size(); i < width; ++i) put_char(s, ' ');
    put_text(s, text);
}

void put_line_end(sink& s) {
    if (s.crlf) put_char(s, '\r');
    put_char(s, '\n');
}

// Line ends are written lazily, at the start of the next line, so that the end of the
// last line can be left out on request.
void start_line(sink& s) {
    if (s.line_open) put_line_end(s);
    s.line_open = true;
}

void put_line(sink& s, std::string_view text) {
    start_line(s);
    put_text(s, text);
}

bool open_sink(sink& s, const std::string& path, bool crlf) {
    s.path = path;
    s.crlf = crlf;
    s.file = std::fopen(path.c_str(), "wb");
    if (s.file == nullptr) return false;
    s.buffer.assign(sink_capacity, '\0');
    return true;
}

bool close_sink(sink& s, bool final_line_end) {
    if (s.line_open && final_line_end) put_line_end(s);
    flush_sink(s);
    if (std::fclose(s.file) != 0) s.failed = true;
    s.file = nullptr;
    return !s.failed;
}

// ---------------------------------------------------------------------------
// Options

struct options {
    std::string out_dir;
    std::string truth_path;
    int stations = 100;
    int first_year = 1900;
    int last_year = 2010;
    std::uint64_t seed = 1;
    double missing = 0.0;
    int absent = 0;
    double spurious = 0.0;
    bool crlf = false;
    bool gaps = false;
    bool shuffle_blocks = false;
    bool dateline = false;
    bool no_final_newline = false;
    bool big_ids = false;
    bool names = false;
    bool flat_records = false;
    bool has_box = false;
    int box_south = 0, box_north = 0, box_west = 0, box_east = 0;  // hundredths of a degree
};

constexpr int max_station_count = 1000000;

const char* const usage_text =
    "usage: varnex-archive --out DIR [options]\n"
    "  --stations N        catalogue stations (default 100, at most 1000000)\n"
    "  --first-year Y      first year of records (default 1900)\n"
    "  --last-year Y       last year of records (default 2010)\n"
    "  --seed S            random seed (default 1)\n"
    "  --missing P         share of months left out, 0 to 0.95 (default 0)\n"
    "  --absent K          K catalogue stations get no block in data.txt\n"
    "  --spurious P        share of stations with one implausible value\n"
    "  --gaps              some stations start late or end early\n"
    "  --shuffle-blocks    blocks of data.txt not in catalogue order\n"
    "  --dateline          about half the stations within 10 degrees of 180\n"
    "  --big-ids           the last third of the stations (at least one) get ids above 2^24\n"
    "  --names             a station name after the fourth catalogue value\n"
    "  --box S,N,W,E       place stations in this box (degrees; W > E wraps at 180)\n"
    "  --flat-records      records as ID, 1, date, value and deviation to three decimals,\n"
    "                      days, 0 (source, days and flag otherwise)\n"
    "  --crlf              CR LF line ends\n"
    "  --no-final-newline  last line of each file without its line end\n"
    "  --truth FILE        also write a listing of every station and observation\n"
    "  -h, --help          this text\n";

[[noreturn]] void fail_usage(std::string_view message) {
    std::fputs("varnex-archive: ", stderr);
    std::fwrite(message.data(), 1, message.size(), stderr);
    std::fputs("\n", stderr);
    std::fputs(usage_text, stderr);
    std::exit(2);
}

bool parse_whole_int(std::string_view text, std::int64_t& value) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && !text.empty();
}

bool parse_whole_double(std::string_view text, double& value) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && !text.empty();
}

int int_option(std::string_view name, std::string_view text, std::int64_t lo, std::int64_t hi) {
    std::int64_t v = 0;
    if (!parse_whole_int(text, v) || v < lo || v > hi)
        fail_usage(std::string(name) + ": bad value '" + std::string(text) + "'");
    return static_cast<int>(v);
}

double share_option(std::string_view name, std::string_view text, double hi) {
    double v = 0;
    if (!parse_whole_double(text, v) || !(v >= 0.0) || v > hi)
        fail_usage(std::string(name) + ": bad value '" + std::string(text) + "'");
    return v;
}

int hundredths(double degrees) { return static_cast<int>(degrees * 100.0 + (degrees < 0 ? -0.5 : 0.5)); }

void parse_box(options& o, std::string_view text) {
    double v[4];
    for (int i = 0; i < 4; ++i) {
        const std::size_t comma = text.find(',');
        const std::string_view part = i < 3 ? text.substr(0, comma) : text;
        if ((i < 3 && comma == std::string_view::npos) || !parse_whole_double(part, v[i]))
            fail_usage("--box: expected S,N,W,E");
        if (i < 3) text.remove_prefix(comma + 1);
    }
    if (!(v[0] >= -90 && v[0] <= v[1] && v[1] <= 90 && v[2] >= -180 && v[2] <= 180 && v[3] >= -180 && v[3] <= 180))
        fail_usage("--box: need -90 <= S <= N <= 90 and W, E within -180..180");
    o.has_box = true;
    o.box_south = hundredths(v[0]);
    o.box_north = hundredths(v[1]);
    o.box_west = hundredths(v[2]);
    o.box_east = hundredths(v[3]);
}

options parse_options(int argc, char** argv) {
    options o;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        std::string_view value;
        bool has_inline_value = false;
        if (const std::size_t eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            has_inline_value = true;
        }
        auto flag = [&](std::string_view name) {
            if (arg != name) return false;
            if (has_inline_value) fail_usage(std::string(name) + " takes no value");
            return true;
        };
        auto valued = [&](std::string_view name) {
            if (arg != name) return false;
            if (!has_inline_value) {
                if (i + 1 >= argc) fail_usage(std::string(name) + " needs a value");
                value = argv[++i];
            }
            return true;
        };
        if (flag("--help") || flag("-h")) {
            std::fputs(usage_text, stdout);
            std::exit(0);
        } else if (valued("--out"))
            o.out_dir = std::string(value);
        else if (valued("--truth"))
            o.truth_path = std::string(value);
        else if (valued("--stations"))
            o.stations = int_option(arg, value, 1, max_station_count);
        else if (valued("--first-year"))
            o.first_year = int_option(arg, value, 1, 9999);
        else if (valued("--last-year"))
            o.last_year = int_option(arg, value, 1, 9999);
        else if (valued("--seed")) {
            std::int64_t s = 0;
            if (!parse_whole_int(value, s) || s < 0) fail_usage("--seed: bad value '" + std::string(value) + "'");
            o.seed = static_cast<std::uint64_t>(s);
        } else if (valued("--missing"))
            o.missing = share_option(arg, value, 0.95);
        else if (valued("--absent"))
            o.absent = int_option(arg, value, 0, max_station_count);
        else if (valued("--spurious"))
            o.spurious = share_option(arg, value, 1.0);
        else if (valued("--box"))
            parse_box(o, value);
        else if (flag("--crlf"))
            o.crlf = true;
        else if (flag("--gaps"))
            o.gaps = true;
        else if (flag("--shuffle-blocks"))
            o.shuffle_blocks = true;
        else if (flag("--dateline"))
            o.dateline = true;
        else if (flag("--no-final-newline"))
            o.no_final_newline = true;
        else if (flag("--big-ids"))
            o.big_ids = true;
        else if (flag("--names"))
            o.names = true;
        else if (flag("--flat-records"))
            o.flat_records = true;
        else
            fail_usage("unknown option '" + std::string(argv[i]) + "'");
    }
    if (o.out_dir.empty()) fail_usage("--out DIR is required");
    if (o.first_year > o.last_year) fail_usage("--first-year is after --last-year");
    if (o.absent > o.stations) fail_usage("--absent is larger than --stations");
    return o;
}

// ---------------------------------------------------------------------------
// Stations

struct station {
    std::int64_t id = 0;
    int lat = 0;    // hundredths of a degree
    int lon = 0;    // hundredths of a degree
    int extra = 0;  // elevation, tenths of a metre; -9990 marks an unknown elevation
    int first_year = 0;
    int last_year = 0;
    int source = 1;            // second column of its observation lines
    int continentality = 100;  // percent; scales the seasonal swing
    int layout = 0;            // how its catalogue line is spaced
    bool has_block = true;
    bool spurious = false;
    std::string name;
};

// Streams of one run; each purpose has its own so that options do not disturb others.
enum stream_id : std::uint64_t {
    stream_places = 1,
    stream_ids,
    stream_absent,
    stream_spurious,
    stream_gaps,
    stream_shuffle,
    stream_station_base = 1000,
};

int draw_latitude(rng& r) {
    const std::uint64_t zone = below(r, 100);
    if (zone < 65) return static_cast<int>(between(r, 2000, 7000));   // the dense northern mid-latitudes
    if (zone < 85) return static_cast<int>(between(r, -4500, 2000));  // tropics and southern mid-latitudes
    return static_cast<int>(between(r, -9000, 9000));
}

int draw_longitude(rng& r) { return static_cast<int>(between(r, -18000, 18000)); }

int draw_box_longitude(rng& r, const options& o) {
    const int span = o.box_west <= o.box_east ? o.box_east - o.box_west : o.box_east - o.box_west + 36000;
    int lon = o.box_west + static_cast<int>(below(r, static_cast<std::uint64_t>(span) + 1));
    if (lon > 18000) lon -= 36000;
    return lon;
}

int draw_dateline_longitude(rng& r) {
    const int offset = static_cast<int>(between(r, 0, 1000));  // within 10 degrees of the meridian
    return below(r, 2) == 0 ? 18000 - offset : -18000 + offset;
}

// Elevation in tenths of a metre: mostly low, a few mountain sites, rarely unknown.
int draw_elevation(rng& r) {
    if (below(r, 50) == 0) return -9990;
    const std::int64_t u = between(r, 0, 1000);
    int tenths = static_cast<int>(u * u * u * 30000 / 1000000000);  // 0 to 3000 m, mostly low
    if (below(r, 40) == 0) tenths = -static_cast<int>(between(r, 10, 300));
    return tenths;
}

std::string draw_name(rng& r) {
    static const char* const syllables[] = {"KAR", "VEN", "OST", "RIN", "MOL", "DA", "BE",  "LUN", "TOR", "SKA",
                                            "VAL", "MO",  "RA",  "NES", "GRE", "BO", "LIN", "ZA",  "PER", "HOL"};
    static const char* const suffixes[] = {"", "", "", " AP", " HILL", " PORT", "/OBS", " IS.", ", RIVER", " 'NORTH'"};
    std::string name;
    const int parts = static_cast<int>(between(r, 2, 3));
    for (int i = 0; i < parts; ++i) name += syllables[below(r, std::size(syllables))];
    name += suffixes[below(r, std::size(suffixes))];
    return name;
}

void place_stations(std::vector<station>& stations, const options& o) {
    rng r = make_stream(o.seed, stream_places);
    int dateline_edges = 0;
    for (station& s : stations) {
        if (o.has_box) {
            s.lat = static_cast<int>(between(r, o.box_south, o.box_north));
            s.lon = draw_box_longitude(r, o);
        } else {
            s.lat = draw_latitude(r);
            s.lon = draw_longitude(r);
        }
        if (o.dateline && below(r, 2) == 0) {
            s.lat = static_cast<int>(between(r, -6000, 7000));
            s.lon = draw_dateline_longitude(r);
            if (dateline_edges < 2) s.lon = dateline_edges++ == 0 ? 18000 : -18000;  // the meridian itself, both ways
        }
        s.extra = draw_elevation(r);
        s.source = static_cast<int>(between(r, 0, 3));
        s.continentality = static_cast<int>(between(r, 60, 140));
        s.layout = static_cast<int>(below(r, 6));
        if (o.names) s.name = draw_name(r);
    }
}

// Identifiers grow through the catalogue as in the archive: a country code of three
// digits and a five-digit site number, always below 2^24 so that they stay exact in
// single precision. With --big-ids the last third jumps past 2^24, starting at
// 2^24 + 1, with steps wide enough that no two of them meet after single-precision
// rounding.
void assign_ids(std::vector<station>& stations, const options& o) {
    rng r = make_stream(o.seed, stream_ids);
    const std::int64_t n = static_cast<std::int64_t>(stations.size());
    const std::int64_t step = std::max<std::int64_t>(1, std::min<std::int64_t>(2000, 6500000 / n));
    std::int64_t id = 10100000 + between(r, 0, 50000);
    const std::int64_t big_from = o.big_ids ? n - std::max<std::int64_t>(1, n / 3) : n;
    const std::int64_t big_count = std::max<std::int64_t>(1, n - big_from);
    const std::int64_t big_step = std::min<std::int64_t>(200000, 2000000000 / big_count);
    for (std::int64_t i = 0; i < n; ++i) {
        if (i == big_from)
            id = 16777217;
        else if (i > big_from)
            id += between(r, 1000, std::max<std::int64_t>(1000, big_step));
        else if (i > 0)
            id += between(r, 1, step);
        stations[static_cast<std::size_t>(i)].id = id;
    }
}

std::vector<int> all_indices(std::size_t n) {
    std::vector<int> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<int>(i);
    return v;
}

std::size_t share_count(double share, std::size_t n) {
    if (share <= 0.0 || n == 0) return 0;
    const std::size_t count = static_cast<std::size_t>(share * static_cast<double>(n) + 0.5);
    return std::clamp<std::size_t>(count, 1, n);
}

void choose_irregular_stations(std::vector<station>& stations, const options& o) {
    for (station& s : stations) {
        s.first_year = o.first_year;
        s.last_year = o.last_year;
    }
    rng absent_rng = make_stream(o.seed, stream_absent);
    for (int i : pick_some(all_indices(stations.size()), static_cast<std::size_t>(o.absent), absent_rng))
        stations[static_cast<std::size_t>(i)].has_block = false;

    std::vector<int> with_block;
    for (std::size_t i = 0; i < stations.size(); ++i)
        if (stations[i].has_block) with_block.push_back(static_cast<int>(i));
    rng spurious_rng = make_stream(o.seed, stream_spurious);
    for (int i : pick_some(with_block, share_count(o.spurious, stations.size()), spurious_rng))
        stations[static_cast<std::size_t>(i)].spurious = true;

    if (!o.gaps) return;
    rng gap_rng = make_stream(o.seed, stream_gaps);
    const int years = o.last_year - o.first_year + 1;
    const int cut_limit = std::max(1, years * 2 / 5);
    for (int i : pick_some(all_indices(stations.size()), share_count(0.2, stations.size()), gap_rng)) {
        station& s = stations[static_cast<std::size_t>(i)];
        const std::uint64_t kind = below(gap_rng, 3);
        if (years < 2) break;
        if (kind != 1) s.first_year = o.first_year + static_cast<int>(between(gap_rng, 1, cut_limit));
        if (kind != 0) s.last_year = o.last_year - static_cast<int>(between(gap_rng, 1, cut_limit));
        if (s.first_year > s.last_year) s.first_year = s.last_year;
    }
}

// ---------------------------------------------------------------------------
// Temperatures, in hundredths of a degree Celsius

// cos(15 + 30 (m - 1) degrees) times 1000: coldest around the turn of the year.
constexpr int season_shape[12] = {966, 707, 259, -259, -707, -966, -966, -707, -259, 259, 707, 966};

constexpr int month_thousandths[12] = {42, 125, 208, 292, 375, 458, 542, 625, 708, 792, 875, 958};

bool leap_year(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int days_in_month(int y, int m) {
    static constexpr int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && leap_year(y) ? 29 : days[m - 1];
}

struct climate {
    int mean;       // annual mean at the station
    int amplitude;  // half the seasonal range, signed by hemisphere
    int noise;      // month-to-month noise
};

climate station_climate(const station& s) {
    const std::int64_t alat = s.lat < 0 ? -s.lat : s.lat;
    climate c;
    const int elevation = s.extra == -9990 ? 0 : s.extra;
    c.mean = static_cast<int>(2750 - alat * alat * 5250 / 81000000 - static_cast<std::int64_t>(elevation) * 65 / 1000);
    const int swing = static_cast<int>((100 + alat * 1600 / 9000) * s.continentality / 100);
    c.amplitude = s.lat < 0 ? -swing : swing;
    c.noise = static_cast<int>(80 + alat * 120 / 9000);
    return c;
}

constexpr int spurious_values[] = {12340, -8880, 10550, -7150, 99990};

struct observation {
    int year;
    int month;
    int value;      // hundredths of a degree
    int deviation;  // hundredths; the ignored sixth column
    int flag;       // the ignored seventh column
};

// Every month of the option range is drawn, in order, whatever the station keeps.
void build_station_series(const station& s, std::size_t index, const options& o, std::vector<observation>& out) {
    out.clear();
    rng values = make_stream(o.seed, stream_station_base + 2 * static_cast<std::uint64_t>(index));
    rng gaps = make_stream(o.seed, stream_station_base + 2 * static_cast<std::uint64_t>(index) + 1);
    const std::uint64_t drop = chance_threshold(o.missing);
    const climate c = station_climate(s);
    for (int y = o.first_year; y <= o.last_year; ++y) {
        const int year_anomaly = draw_noise(values, 45) + (y - 1900) * 8 / 10;
        for (int m = 1; m <= 12; ++m) {
            int v = c.mean + year_anomaly - c.amplitude * season_shape[m - 1] / 1000 + draw_noise(values, c.noise);
            v = std::clamp(v, -6500, 4800);
            const int deviation = static_cast<int>(between(values, 50, 350));
            const int flag = below(values, 40) == 0 ? 1 : 0;
            const bool dropped = draw_chance(gaps, drop);
            if (dropped || y < s.first_year || y > s.last_year) continue;
            out.push_back(observation{y, m, v, deviation, flag});
        }
    }
    if (out.empty()) {
        // A station with a block keeps at least one month, even when all were dropped.
        out.push_back(observation{s.first_year, 1, c.mean, 100, 0});
    }
    if (s.spurious) {
        // In the middle half of the record, where extraction spans usually reach.
        const std::size_t quarter = out.size() / 4;
        const std::size_t k = quarter + below(gaps, std::max<std::size_t>(1, out.size() - 2 * quarter));
        out[k].value = spurious_values[below(gaps, std::size(spurious_values))];
    }
}

// ---------------------------------------------------------------------------
// Header texts

// The first five lines of each header are the ones the program echoes.
std::vector<std::string> catalogue_header(const options& o) {
    std::vector<std::string> h = {
        "VALMORA STATION ARCHIVE  --  STATION CATALOGUE (site_summary.txt)",
        "Monthly surface air temperature, station metadata, release 15.2",
        "Build: seed " + std::string(integer_text(static_cast<std::int64_t>(o.seed)).view()) + ", " +
            std::string(integer_text(o.stations).view()) + " stations, years " +
            std::string(integer_text(o.first_year).view()) + "-" + std::string(integer_text(o.last_year).view()),
        "Synthetic archive written by varnex_archive for testing; not real observations.",
        "------------------------------------------------------------------------------",
        "",
        "CONTENTS",
        "  This file lists every station of the archive, one station per line, after",
        "  the sixty lines of this header.  The observations of each station are in",
        "  data.txt, in the same order as the stations are listed here.",
        "",
        "COLUMNS",
        "  1  station identifier: country code (3 digits) followed by the site number",
        "  2  latitude in decimal degrees, north positive, south negative",
        "  3  longitude in decimal degrees, east positive, west negative",
        "  4  station elevation in metres above mean sea level (-999.0 when unknown)",
        "  5  (optional) station name; free text, not used by the extraction programs",
        "",
        "\tColumns are separated by one or more blanks or TAB characters; the width of",
        "\ta column is not fixed.  Read the values free-form, not by column position.",
        "",
        "UNITS AND CONVENTIONS",
        "  Coordinates are given to the nearest 0.01 degree.  Longitudes run from -180.00",
        "  to 180.00; a station on the 180th meridian may be listed with either sign, and both",
        "  conventions occur in the archive because the national services differ on this point.",
        "  Elevations are given to the nearest 0.1 metre.",
        "",
        "PROVENANCE",
        "  The station list was merged from the national catalogues of the Valmora network partners (see list below)",
        "  and from the historical station registers of the observatory at Ostrin, digitized between 1998 and 2004.",
        "  Identifiers of stations that were moved keep the number of the original site.",
        "  Where two catalogues disagreed on a position, the more recent survey was taken.",
        "",
        "\tSource\tStations\tRemark",
        "\tNMS\tmost\tnational meteorological services",
        "\tOBS\tsome\tobservatory registers, digitized 1998-2004",
        "\tREC\tfew\trecovered station books, positions taken from contemporary maps and survey sheets of the period",
        "",
        "QUALITY CONTROL",
        "  Positions were checked against coastlines and elevations against a terrain model;",
        "  stations failing the checks were corrected by hand or flagged in the data file.",
        "  The catalogue itself carries no flags.",
        "",
        "CHANGES",
        "  15.2  elevations of the mountain sites re-surveyed; 312 positions refined to 0.01 degree",
        "  15.1  stations of the southern network added",
        "  15.0  identifiers extended to eight digits",
        "  14.3  catalogue split from the observation file",
        "",
        "CONTACT",
        "  Valmora archive group, data services.  Please cite the archive release number",
        "  when you publish results derived from these data.",
        "",
        "READING THIS FILE",
        "  Skip exactly 60 lines, then read four numbers per line until the end of the file.",
        "",
        "",
        "  identifier   latitude   longitude   elevation",
        "  ----------   --------   ---------   ---------",
        "",
    };
    return h;
}

std::vector<std::string> observations_header(const options& o) {
    std::vector<std::string> h = {
        "VALMORA STATION ARCHIVE  --  MONTHLY OBSERVATIONS (data.txt)",
        "Monthly mean surface air temperature, release 15.2",
        "Build: seed " + std::string(integer_text(static_cast<std::int64_t>(o.seed)).view()) + ", " +
            std::string(integer_text(o.stations).view()) + " stations, years " +
            std::string(integer_text(o.first_year).view()) + "-" + std::string(integer_text(o.last_year).view()),
        "Synthetic archive written by varnex_archive for testing; not real observations.",
        "------------------------------------------------------------------------------",
        "",
        "CONTENTS",
        "  One monthly observation per line, after the 111 lines of this header.  The lines",
        "  of one station stand together, in time order, and the stations follow the order",
        "  of the station catalogue site_summary.txt.  A month without an observation has",
        "  no line; there is no missing-value code in this file.",
        "",
        "COLUMNS (separated by one TAB character)",
        "  1  station identifier, as in site_summary.txt",
        "  2  source code of the observation (see SOURCE CODES below)",
        "  3  decimal date: the year plus the middle of the month as a fraction of the year,",
        "     (month - 0.5) / 12, written with three decimals",
        "  4  monthly mean temperature in degrees Celsius, two decimals",
        "  5  number of days in the month",
        "  6  standard deviation of the daily means in the month, degrees Celsius",
        "  7  quality flag (see QUALITY FLAGS below)",
        "",
        "DECIMAL DATES",
        "\tJan\t.042\tFeb\t.125\tMar\t.208\tApr\t.292",
        "\tMay\t.375\tJun\t.458\tJul\t.542\tAug\t.625",
        "\tSep\t.708\tOct\t.792\tNov\t.875\tDec\t.958",
        "  Example: 1950.042 is January 1950, 1950.958 is December 1950.",
        "",
        "SOURCE CODES",
        "  0  national meteorological service, digital archive",
        "  1  national meteorological service, digitized yearbooks",
        "  2  observatory registers",
        "  3  recovered station books",
        "",
        "QUALITY FLAGS",
        "  0  value passed all checks",
        "  1  value passed the checks after a correction of its units or its date",
        "",
        "  Values that failed the checks have been removed, with a few exceptions that the quality",
        "  control could not decide; users are advised to screen for implausible values themselves.",
        "",
        "UNITS",
        "  Temperatures are in degrees Celsius.  Dates are decimal years.  Day counts are whole days.",
        "",
        "PROVENANCE",
        "  The monthly means were computed from daily means where daily data were available",
        "  and taken from the monthly yearbooks otherwise.  Station series were not homogenized;",
        "  breaks caused by relocations and changes of instruments remain in the data.",
        "",
        "KNOWN ISSUES",
        "  - Some stations have long gaps during wars and the years after them.",
        "  - A few early records were kept in Reaumur degrees and converted; small rounding",
        "    differences of 0.01 degree against the yearbooks are expected.",
        "  - The order of the stations follows the catalogue; readers that rely on it should",
        "    still check the identifiers.",
        "",
        "FILE LAYOUT",
        "\tline\t1-111\tthis header",
        "\tline\t112-\tobservations",
        "",
    };
    static const char* const history[] = {
        "  15.2  2012  station metadata moved to site_summary.txt; source codes revised",
        "  15.1  2011  southern network added; yearbook digitization 1901-1930 completed",
        "  15.0  2010  identifiers extended to eight digits",
        "  14.3  2009  decimal dates at the middle of the month",
        "  14.2  2008  quality flags added",
        "  14.1  2007  observatory registers merged",
        "  14.0  2006  first release on the data server",
    };
    h.push_back("RELEASE HISTORY");
    for (const char* line : history) h.push_back(line);
    h.push_back("");
    h.push_back("ACKNOWLEDGEMENTS");
    h.push_back(
        "  The archive exists thanks to generations of observers who read the thermometers twice or three times a "
        "day.");
    h.push_back("");
    h.push_back("COUNTRY CODES (first three digits of the identifier)");
    static const char* const countries[] = {
        "Aldoria", "Belmark",  "Corvania", "Dunmere", "Estrava",   "Falnor",  "Gorvik",  "Halvany", "Istrel",
        "Jorvala", "Kestria",  "Lunmark",  "Morvane", "Norrath",   "Ostrin",  "Pellmar", "Quessan", "Ravena",
        "Sarnow",  "Tolvane",  "Ulmeria",  "Valmora", "Westmarch", "Yrvania", "Zelland", "Arvenne", "Brisca",
        "Caldera", "Dravonia", "Elmshire", "Fenwick", "Galvira",   "Hestria", "Ivarne",  "Kalmora", "Lestrade"};
    for (std::size_t k = 0; h.size() < 106; ++k) {
        std::string line = "  ";
        line += integer_text(static_cast<std::int64_t>(101 + k)).view();
        line += "  ";
        line += countries[k % std::size(countries)];
        if (k >= std::size(countries)) line += " (overseas stations)";
        h.push_back(line);
    }
    h.push_back("");
    h.push_back("READING THIS FILE");
    h.push_back("  Skip exactly 111 lines, then read the columns of each line up to the end of the file.");
    h.push_back("");
    h.push_back(o.flat_records ? "id\tsrc\tdate\tvalue\tsd\tdays\tflag" : "id\tsrc\tdate\tvalue\tdays\tsd\tflag");
    return h;
}

constexpr std::size_t catalogue_header_lines = 60;
constexpr std::size_t observations_header_lines = 111;

// ---------------------------------------------------------------------------
// Writers

void write_catalogue_line(sink& out, const station& s) {
    const num_text id = integer_text(s.id);
    const num_text lat = fixed_text(s.lat, 2);
    const num_text lon = fixed_text(s.lon, 2);
    const num_text extra = fixed_text(s.extra, 1);
    start_line(out);
    switch (s.layout) {
        case 0:
        case 1:
        case 2:  // the usual aligned columns
            put_right(out, id.view(), 9);
            put_right(out, lat.view(), 9);
            put_right(out, lon.view(), 10);
            put_right(out, extra.view(), 9);
            break;
        case 3:  // TAB separated
            put_text(out, id.view());
            put_char(out, '\t');
            put_text(out, lat.view());
            put_char(out, '\t');
            put_text(out, lon.view());
            put_char(out, '\t');
            put_text(out, extra.view());
            break;
        case 4:  // single blanks
            put_text(out, id.view());
            put_char(out, ' ');
            put_text(out, lat.view());
            put_char(out, ' ');
            put_text(out, lon.view());
            put_char(out, ' ');
            put_text(out, extra.view());
            break;
        default:  // mixed blanks and TABs
            put_text(out, id.view());
            put_text(out, " \t");
            put_text(out, lat.view());
            put_char(out, '\t');
            put_text(out, lon.view());
            put_text(out, "   ");
            put_text(out, extra.view());
            break;
    }
    if (!s.name.empty()) {
        put_text(out, "  ");
        put_text(out, s.name);
    }
}

// The start of an observation line: identifier, source and decimal date, each followed by
// a TAB.
void start_observation_line(sink& out, std::string_view id, std::string_view source, std::string_view year, int month) {
    start_line(out);
    ensure_room(out, 96);
    put_text(out, id);
    put_char(out, '\t');
    put_text(out, source);
    put_char(out, '\t');
    put_text(out, year);
    put_char(out, '.');
    const int t = month_thousandths[month - 1];
    put_char(out, static_cast<char>('0' + t / 100));
    put_char(out, static_cast<char>('0' + t / 10 % 10));
    put_char(out, static_cast<char>('0' + t % 10));
    put_char(out, '\t');
}

void write_observation_line(sink& out, std::string_view id, std::string_view source, std::string_view year,
                            const observation& ob) {
    start_observation_line(out, id, source, year, ob.month);
    put_text(out, fixed_text(ob.value, 2).view());
    put_char(out, '\t');
    put_text(out, integer_text(days_in_month(ob.year, ob.month)).view());
    put_char(out, '\t');
    put_text(out, fixed_text(ob.deviation, 2).view());
    put_char(out, '\t');
    put_char(out, static_cast<char>('0' + ob.flag));
}

// The same observation as ID, 1, date, value and deviation with a third decimal (always 0,
// so the value read is the same), days, 0.
void write_flat_observation_line(sink& out, std::string_view id, std::string_view year, const observation& ob) {
    start_observation_line(out, id, "1", year, ob.month);
    put_text(out, fixed_text(ob.value, 2).view());
    put_text(out, "0\t");
    put_text(out, fixed_text(ob.deviation, 2).view());
    put_text(out, "0\t");
    put_text(out, integer_text(days_in_month(ob.year, ob.month)).view());
    put_text(out, "\t0");
}

void write_truth_station(sink& truth, const station& s) {
    // Identifiers are read exactly; the generator's all fit in 32 bits.
    const std::int64_t key = s.id;
    start_line(truth);
    put_text(truth, "S ");
    put_text(truth, integer_text(s.id).view());
    put_char(truth, ' ');
    put_text(truth, integer_text(key).view());
    put_char(truth, ' ');
    put_text(truth, fixed_text(s.lat, 2).view());
    put_char(truth, ' ');
    put_text(truth, fixed_text(s.lon, 2).view());
    put_char(truth, ' ');
    put_text(truth, fixed_text(s.extra, 1).view());
    put_char(truth, ' ');
    put_char(truth, s.has_block ? '1' : '0');
    put_char(truth, ' ');
    put_char(truth, s.spurious ? '1' : '0');
}

void write_truth_observation(sink& truth, std::string_view id, const observation& ob) {
    start_line(truth);
    put_text(truth, "O ");
    put_text(truth, id);
    put_char(truth, ' ');
    put_text(truth, integer_text(ob.year).view());
    put_char(truth, ' ');
    put_text(truth, integer_text(ob.month).view());
    put_char(truth, ' ');
    put_text(truth, fixed_text(ob.value, 2).view());
}

[[noreturn]] void fail_io(const std::string& what) {
    std::fputs("varnex-archive: cannot write ", stderr);
    std::fputs(what.c_str(), stderr);
    std::fputs("\n", stderr);
    std::exit(1);
}

void write_header(sink& out, const std::vector<std::string>& lines, std::size_t expected) {
    if (lines.size() != expected) {
        std::fputs("varnex-archive: internal error: header length\n", stderr);
        std::exit(3);
    }
    for (const std::string& line : lines) put_line(out, line);
}

std::vector<int> block_order(const std::vector<station>& stations, const options& o) {
    std::vector<int> order;
    for (std::size_t i = 0; i < stations.size(); ++i)
        if (stations[i].has_block) order.push_back(static_cast<int>(i));
    if (o.shuffle_blocks && order.size() > 1) {
        rng r = make_stream(o.seed, stream_shuffle);
        const std::vector<int> before = order;
        shuffle_indices(order, r);
        if (order == before) std::swap(order.front(), order.back());  // never leave it in order by chance
    }
    return order;
}

struct totals {
    std::uint64_t observations = 0;
    std::uint64_t blocks = 0;
};

totals write_archive(const options& o, const std::vector<station>& stations) {
    const std::string dir = o.out_dir;
    sink catalogue;
    if (!open_sink(catalogue, dir + "/site_summary.txt", o.crlf)) fail_io(dir + "/site_summary.txt");
    write_header(catalogue, catalogue_header(o), catalogue_header_lines);
    for (const station& s : stations) write_catalogue_line(catalogue, s);
    if (!close_sink(catalogue, !o.no_final_newline)) fail_io(catalogue.path);

    sink truth;
    const bool with_truth = !o.truth_path.empty();
    if (with_truth) {
        if (!open_sink(truth, o.truth_path, false)) fail_io(o.truth_path);
        put_line(truth, "# varnex_archive truth 1");
        put_line(truth, "# S id key lat lon extra has_block spurious   (catalogue order)");
        put_line(truth, "# O id year month value                       (data.txt order)");
        for (const station& s : stations) write_truth_station(truth, s);
    }

    sink data;
    if (!open_sink(data, dir + "/data.txt", o.crlf)) fail_io(dir + "/data.txt");
    write_header(data, observations_header(o), observations_header_lines);
    std::vector<std::string> year_text;
    for (int y = o.first_year; y <= o.last_year; ++y) year_text.emplace_back(integer_text(y).view());
    static const std::string_view source_text[4] = {"0", "1", "2", "3"};
    std::vector<observation> series;
    totals t;
    for (int index : block_order(stations, o)) {
        const station& s = stations[static_cast<std::size_t>(index)];
        build_station_series(s, static_cast<std::size_t>(index), o, series);
        const num_text id = integer_text(s.id);
        for (const observation& ob : series) {
            const std::string_view year = year_text[static_cast<std::size_t>(ob.year - o.first_year)];
            if (o.flat_records) {
                write_flat_observation_line(data, id.view(), year, ob);
            } else {
                write_observation_line(data, id.view(), source_text[s.source], year, ob);
            }
            if (with_truth) write_truth_observation(truth, id.view(), ob);
        }
        t.observations += series.size();
        ++t.blocks;
    }
    if (!close_sink(data, !o.no_final_newline)) fail_io(data.path);
    if (with_truth && !close_sink(truth, true)) fail_io(o.truth_path);
    return t;
}

void report_summary(const options& o, const totals& t) {
    std::string line = "varnex-archive: ";
    line += integer_text(o.stations).view();
    line += " stations, ";
    line += integer_text(static_cast<std::int64_t>(t.blocks)).view();
    line += " blocks, ";
    line += integer_text(static_cast<std::int64_t>(t.observations)).view();
    line += " observations in ";
    line += o.out_dir;
    line += "\n";
    std::fputs(line.c_str(), stderr);
}

int run(int argc, char** argv) {
    const options o = parse_options(argc, argv);
    std::error_code ec;
    std::filesystem::create_directories(o.out_dir, ec);
    if (ec) fail_io(o.out_dir + " (" + ec.message() + ")");
    std::vector<station> stations(static_cast<std::size_t>(o.stations));
    place_stations(stations, o);
    assign_ids(stations, o);
    choose_irregular_stations(stations, o);
    const totals t = write_archive(o, stations);
    report_summary(o, t);
    return 0;
}

}  // namespace archive

int main(int argc, char** argv) { return archive::run(argc, argv); }
