// Archives as they are shipped: whole batch runs that read the catalogue and data.txt
// compressed (gzip in several members, zstd in several frames, xz in several streams),
// through a FIFO and on standard input, against the same run on the plain files byte for
// byte; compressed streams cut short or damaged; and which file of the archive directory a
// run reads.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/batch_runs.hpp"
#include "tests/support/case_names.hpp"
#include "tests/support/run_program.hpp"

namespace {

const std::vector<std::string> span = {"--lat", "-90,90", "--years", "1950-1960"};
const std::string archive_options = "--stations 60 --first-year 1950 --last-year 1960 --absent 3 --shuffle-blocks";

void finish(const e2e::scratch_dir& dir) {
    if (::testing::Test::HasFailure()) {
        std::fprintf(stderr, "run kept in %s\n", dir.base.c_str());
    } else {
        e2e::remove_scratch_dir(dir);
    }
}

std::string file(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return e2e::read_file(path.substr(0, slash), path.substr(slash + 1)).value_or("");
}

void put(const std::string& path, const std::string& bytes) {
    const std::size_t slash = path.rfind('/');
    ASSERT_TRUE(e2e::write_file(path.substr(0, slash), path.substr(slash + 1), bytes)) << path;
}

// `bytes` compressed by `tool` ("gzip", "zstd" or "xz") in `parts` pieces one after the
// other: members, frames or streams.
std::string compressed(const std::string& scratch, const std::string& tool, const std::string& bytes, int parts) {
    std::string joined;
    const std::size_t step = bytes.size() / static_cast<std::size_t>(parts) + 1;
    for (std::size_t from = 0; from < bytes.size(); from += step) {
        const std::string piece = scratch + "/piece";
        put(piece, bytes.substr(from, step));
        const std::string command = tool + " -q -c " + piece + " > " + piece + ".out";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        joined += file(piece + ".out");
    }
    return joined;
}

// Writes `bytes` into the FIFO `path` on a thread of its own, once the program opens it,
// and closes it after `before_closing` returns. A reader that goes away early ends the
// writing (SIGPIPE is blocked on the thread).
class fifo_feeder {
public:
    fifo_feeder(
        const std::string& path, std::string bytes, std::function<void()> before_closing = [] {}) {
        EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0) << path;
        thread_ = std::thread([path, bytes = std::move(bytes), before_closing = std::move(before_closing)] {
            sigset_t pipe_signal;
            sigemptyset(&pipe_signal);
            sigaddset(&pipe_signal, SIGPIPE);
            pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);
            const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            int fd = -1;
            while (fd < 0 && std::chrono::steady_clock::now() < give_up) {
                fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
                if (fd < 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            if (fd < 0) return;
            ::fcntl(fd, F_SETFL, 0);
            for (std::size_t done = 0; done < bytes.size();) {
                const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
                if (n <= 0) break;
                done += static_cast<std::size_t>(n);
            }
            before_closing();
            ::close(fd);
        });
    }
    ~fifo_feeder() { join(); }
    void join() {
        if (thread_.joinable()) thread_.join();
    }

private:
    std::thread thread_;
};

// ---------------------------------------------------------------- the same outputs from every source

// How a file reaches the program: as the archive directory's site_summary.txt or data.txt
// (with the tool's suffix), named by --catalogue or --data (by a name without a suffix),
// through a FIFO so named, or on standard input, from a pipe or a regular file.
enum class reach { archive_dir, named, fifo, standard_input, standard_input_file };

struct file_form {
    std::string tool;  // empty: plain
    int parts = 1;
    reach how = reach::archive_dir;
};

struct source_case {
    std::string name;
    file_form catalogue;
    file_form data;
};

std::vector<source_case> source_cases() {
    return {
        {"plain_files", {}, {}},
        {"gzip_data", {}, {"gzip", 1}},
        {"gzip_members", {"gzip", 2}, {"gzip", 3}},
        {"zstd_frames", {"zstd", 3}, {"zstd", 3}},
        {"xz_streams", {"xz", 2}, {"xz", 2}},
        {"gzip_data_named_without_suffix", {}, {"gzip", 1, reach::named}},
        {"zstd_catalogue_named", {"zstd", 1, reach::named}, {"xz", 1}},
        {"plain_data_through_fifo", {}, {"", 1, reach::fifo}},
        {"gzip_data_through_fifo", {}, {"gzip", 2, reach::fifo}},
        {"plain_data_on_standard_input", {}, {"", 1, reach::standard_input}},
        {"xz_data_on_standard_input", {}, {"xz", 1, reach::standard_input}},
        {"zstd_catalogue_on_standard_input", {"zstd", 2, reach::standard_input}, {"gzip", 1}},
        {"gzip_data_on_standard_input_from_file", {}, {"gzip", 1, reach::standard_input_file}},
    };
}

const char* suffix_of(const std::string& tool) {
    if (tool == "gzip") return ".gz";
    if (tool == "zstd") return ".zst";
    if (tool == "xz") return ".xz";
    return "";
}

class compressed_sources : public ::testing::TestWithParam<source_case> {};

TEST_P(compressed_sources, give_the_plain_run_outputs) {
    const source_case& c = GetParam();
    const e2e::scratch_dir dir = e2e::make_scratch_dir();
    const std::string w = dir.work;
    for (const char* sub : {"/plain", "/arc", "/given", "/ref", "/out"}) std::filesystem::create_directories(w + sub);
    ASSERT_EQ(support::generate_archive(VARNEX_ARCHIVE_TOOL, w + "/plain", archive_options), "");

    std::vector<std::string> ref_args = span;
    for (const char* word : {"-q", "-C", "plain", "-o", "ref", "--csv", "ref/series.csv"}) ref_args.push_back(word);
    const e2e::program_result ref = support::run_batch(dir, VARNEX_BINARY, ref_args);
    ASSERT_EQ(ref.exit_status, 0) << ref.err;

    std::vector<std::string> args = span;
    for (const char* word : {"-q", "-C", "arc", "-o", "out", "--csv", "out/series.csv"}) args.push_back(word);
    e2e::run_options options;
    std::vector<std::unique_ptr<fifo_feeder>> feeders;
    const auto place = [&](const file_form& form, const std::string& name, const char* option) {
        const std::string plain = file(w + "/plain/" + name);
        const std::string bytes = form.tool.empty() ? plain : compressed(dir.base, form.tool, plain, form.parts);
        const std::string given = "given/" + name.substr(0, name.find('.'));
        switch (form.how) {
            case reach::archive_dir: put(w + "/arc/" + name + suffix_of(form.tool), bytes); return;
            case reach::named:
                put(w + "/" + given, bytes);
                args.insert(args.end(), {option, given});
                return;
            case reach::fifo:
                feeders.push_back(std::make_unique<fifo_feeder>(w + "/" + given, bytes));
                args.insert(args.end(), {option, given});
                return;
            case reach::standard_input:
                options.stdin_path = w + "/" + given;
                feeders.push_back(std::make_unique<fifo_feeder>(options.stdin_path, bytes));
                args.insert(args.end(), {option, "-"});
                return;
            case reach::standard_input_file:
                options.stdin_path = dir.base + "/stdin";
                put(options.stdin_path, bytes);
                args.insert(args.end(), {option, "-"});
                return;
        }
    };
    place(c.catalogue, "site_summary.txt", "--catalogue");
    place(c.data, "data.txt", "--data");
    if (options.stdin_path.empty()) options.stdin_path = dir.base;
    options.args = args;
    const e2e::program_result run = e2e::run_program(dir, VARNEX_BINARY, "", options);
    feeders.clear();

    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, ref.out);
    const std::vector<std::string> names = e2e::list_files(w + "/ref");
    EXPECT_EQ(e2e::list_files(w + "/out"), names);
    for (const std::string& name : names) EXPECT_EQ(file(w + "/out/" + name), file(w + "/ref/" + name)) << name;
    finish(dir);
}

INSTANTIATE_TEST_SUITE_P(archives, compressed_sources, ::testing::ValuesIn(source_cases()), support::named_by_name());

// ---------------------------------------------------------------- what a stream keeps

// The "-v" line that says how much of a data.txt read as it came was kept at most, and how
// much of that went into the temporary file.
long long bytes_kept(const std::string& err) {
    const std::size_t at = err.find(": at most ");
    return at == std::string::npos ? -1 : std::atoll(err.c_str() + at + 10);
}

long long bytes_on_disk(const std::string& err) {
    const std::size_t at = err.find(" bytes kept for later searches, ");
    return at == std::string::npos ? -1 : std::atoll(err.c_str() + at + 32);
}

// data.txt read through a FIFO, 19 MB over several waves of the scan: beside the stretch
// being read, the copy keeps next to nothing with the catalogue in the order of data.txt,
// and no more than the pages of the records of the box's stations with the catalogue
// reversed, whose searches all wait for the whole file; in memory while they fit, and the
// rest in the temporary file, which the box of every station needs. The outputs are the
// plain run's every time. So are those of the same data.txt from two zstd frames, whose
// decompressing thread is still decoding when it is handed the copy to write into.
TEST(streamed_data, keeps_only_the_records_later_searches_read) {
    const e2e::scratch_dir dir = e2e::make_scratch_dir();
    const std::string w = dir.work;
    for (const char* sub : {"/plain", "/ref", "/out"}) std::filesystem::create_directories(w + sub);
    ASSERT_EQ(support::generate_archive(VARNEX_ARCHIVE_TOOL, w + "/plain",
                                        "--stations 400 --first-year 1900 --last-year 2010 --seed 5"),
              "");
    // Without its last line feed: the last record ends where the copy does, in pages used again.
    std::string data = file(w + "/plain/data.txt");
    ASSERT_EQ(data.back(), '\n');
    data.pop_back();
    put(w + "/plain/data.txt", data);
    put(w + "/data.txt.zst", compressed(w, "zstd", data, 2));
    std::vector<std::string> catalogue_lines;
    for (std::size_t from = 0; from < file(w + "/plain/site_summary.txt").size();) {
        const std::string all = file(w + "/plain/site_summary.txt");
        const std::size_t feed = all.find('\n', from);
        catalogue_lines.push_back(all.substr(from, feed + 1 - from));
        from = feed + 1;
    }
    std::filesystem::create_directories(dir.base + "/tmp");
    const std::vector<e2e::env_setting> tmpdir = {{"TMPDIR", dir.base + "/tmp"}};
    for (const auto& [reversed, latitudes] : {std::pair{false, "-30,30"}, {true, "-30,30"}, {true, "-90,90"}}) {
        const bool spills = std::string(latitudes) == "-90,90";
        std::vector<std::string> lines = catalogue_lines;
        if (reversed) std::reverse(lines.begin() + 60, lines.end());
        std::string catalogue;
        for (const std::string& line : lines) catalogue += line;
        put(w + "/catalogue.txt", catalogue);
        const std::vector<std::string> box = {"--lat",     latitudes,     "--years",
                                              "1950-1960", "--catalogue", "catalogue.txt"};
        std::vector<std::string> ref_args = box;
        for (const char* word : {"-q", "-C", "plain", "-o", "ref", "--report", "ref/report.txt"})
            ref_args.push_back(word);
        const e2e::program_result ref = support::run_batch(dir, VARNEX_BINARY, ref_args);
        ASSERT_EQ(ref.exit_status, 0) << ref.err;
        const fifo_feeder feeder(w + "/fifo", data);
        std::vector<std::string> args = box;
        for (const char* word : {"-v", "-C", "plain", "--data", "fifo", "-o", "out", "--report", "out/report.txt"})
            args.push_back(word);
        const e2e::program_result run = support::run_batch(dir, VARNEX_BINARY, args, tmpdir);
        std::remove((w + "/fifo").c_str());
        ASSERT_EQ(run.exit_status, 0) << run.err;
        for (const std::string& name : e2e::list_files(w + "/ref"))
            EXPECT_EQ(file(w + "/out/" + name), file(w + "/ref/" + name)) << name << (reversed ? " reversed" : "");
        std::replace(args.begin(), args.end(), std::string("fifo"), std::string("data.txt.zst"));
        const e2e::program_result decoded = support::run_batch(dir, VARNEX_BINARY, args, tmpdir);
        ASSERT_EQ(decoded.exit_status, 0) << decoded.err;
        for (const std::string& name : e2e::list_files(w + "/ref"))
            EXPECT_EQ(file(w + "/out/" + name), file(w + "/ref/" + name)) << name << " from zstd";
        // The records of the stations the report lists, the box's.
        std::string box_ids = "\n";
        long long box_stations = 0;
        const std::string report = file(w + "/ref/report.txt");
        for (std::size_t from = report.find('\n') + 1; from < report.size(); from = report.find('\n', from) + 1) {
            box_ids += report.substr(from, report.find('\t', from) - from) + "\n";
            ++box_stations;
        }
        long long box_bytes = 0;
        for (std::size_t from = 0; from < data.size();) {
            const std::size_t feed = std::min(data.find('\n', from), data.size());
            const std::size_t blank = data.find_first_of(" \t", from);
            if (blank < feed && box_ids.find("\n" + data.substr(from, blank - from) + "\n") != std::string::npos)
                box_bytes += static_cast<long long>(feed + 1 - from);
            from = feed + 1;
        }
        ASSERT_GT(box_bytes, 3'000'000);
        const long long kept = bytes_kept(run.err);
        // The file lets go of whole pages only: the page at each end of a station's records
        // is kept whole.
        if (reversed) {
            EXPECT_GT(kept, box_bytes / 2) << run.err;
            EXPECT_LE(kept, box_bytes + box_stations * 2 * 4096) << run.err;
        } else {
            EXPECT_GE(kept, 0) << run.err;
            EXPECT_LE(kept, 256 * 1024) << run.err;
        }
        // What memory holds is 16 MiB less 128 bytes a station.
        const long long on_disk = bytes_on_disk(run.err);
        if (spills) {
            EXPECT_GT(on_disk, 1 << 20) << run.err;
            EXPECT_GE(on_disk, kept - (16 << 20)) << run.err;
            EXPECT_LE(on_disk, kept - (16 << 20) + 400 * 128 + (1 << 20)) << run.err;
        } else {
            EXPECT_EQ(on_disk, 0) << run.err;
        }
        EXPECT_EQ(e2e::list_files(dir.base + "/tmp"), std::vector<std::string>{});
    }
    finish(dir);
}

// The size of the temporary file that the program `pid` holds open in `directory` (its
// descriptors name it there, deleted), or -1 while it holds none.
long long temporary_file_size(pid_t pid, const std::string& directory) {
    std::error_code error;
    const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
    for (const auto& fd : std::filesystem::directory_iterator(fds, error)) {
        std::error_code e;
        const std::string target = std::filesystem::read_symlink(fd.path(), e).string();
        struct stat info {};
        if (!e && target.rfind(directory + "/", 0) == 0 && ::stat(fd.path().c_str(), &info) == 0)
            return static_cast<long long>(info.st_size);
    }
    return -1;
}

// The program running in `work`, or 0.
pid_t program_in(const std::string& work) {
    const std::filesystem::path program = std::filesystem::canonical(VARNEX_BINARY);
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::error_code e1, e2;
        if (std::filesystem::read_symlink(entry.path() / "cwd", e1) == work &&
            std::filesystem::read_symlink(entry.path() / "exe", e2) == program)
            return static_cast<pid_t>(std::stol(name));
    }
    return 0;
}

// Stopped by SIGTERM once data.txt (38 MB), through a FIFO that is not closed yet, has had
// part of what it keeps moved into the temporary file, the run leaves no file behind; nor
// does one failing at the end of the same data.txt in zstd, cut short there.
TEST(streamed_data, stopped_or_failing_while_keeping_leaves_no_file) {
    const e2e::scratch_dir dir = e2e::make_scratch_dir();
    const std::string w = dir.work;
    for (const char* sub : {"/plain", "/out"}) std::filesystem::create_directories(w + sub);
    std::filesystem::create_directories(dir.base + "/tmp");
    ASSERT_EQ(support::generate_archive(VARNEX_ARCHIVE_TOOL, w + "/plain",
                                        "--stations 800 --first-year 1900 --last-year 2010 --seed 5"),
              "");
    const std::string catalogue = file(w + "/plain/site_summary.txt");
    std::vector<std::string> lines;
    for (std::size_t from = 0; from < catalogue.size(); from = catalogue.find('\n', from) + 1)
        lines.push_back(catalogue.substr(from, catalogue.find('\n', from) + 1 - from));
    std::reverse(lines.begin() + 60, lines.end());
    std::string reversed;
    for (const std::string& line : lines) reversed += line;
    put(w + "/catalogue.txt", reversed);
    long long spilled = -1;
    fifo_feeder feeder(w + "/fifo", file(w + "/plain/data.txt"), [&] {
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        for (pid_t pid = 0; std::chrono::steady_clock::now() < give_up;
             std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
            if (pid == 0) pid = program_in(w);
            if (pid != 0) spilled = temporary_file_size(pid, dir.base + "/tmp");
            if (spilled > 0) {
                ::kill(pid, SIGTERM);
                return;
            }
        }
    });
    const e2e::program_result run = support::run_batch(dir, VARNEX_BINARY,
                                                       {"--lat", "-90,90", "--years", "1950-1960", "-C", "plain",
                                                        "--catalogue", "catalogue.txt", "--data", "fifo", "-o", "out"},
                                                       {{"TMPDIR", dir.base + "/tmp"}});
    feeder.join();
    EXPECT_GT(spilled, 0) << "the temporary file was never written";
    EXPECT_NE(run.exit_status, 0) << run.err;
    EXPECT_EQ(e2e::list_files(w + "/out"), std::vector<std::string>{});
    EXPECT_EQ(e2e::list_files(dir.base + "/tmp"), std::vector<std::string>{});

    std::string cut = compressed(dir.base, "zstd", file(w + "/plain/data.txt"), 1);
    cut.resize(cut.size() - 1000);
    put(w + "/data.txt.zst", cut);
    const e2e::program_result failed =
        support::run_batch(dir, VARNEX_BINARY,
                           {"--lat", "-90,90", "--years", "1950-1960", "-C", "plain", "--catalogue", "catalogue.txt",
                            "--data", "data.txt.zst", "-o", "out"},
                           {{"TMPDIR", dir.base + "/tmp"}});
    EXPECT_EQ(failed.exit_status, 1) << failed.err;
    EXPECT_EQ(failed.err, "varnex: data.txt.zst: unexpected end of compressed data\n");
    EXPECT_EQ(e2e::list_files(w + "/out"), std::vector<std::string>{});
    EXPECT_EQ(e2e::list_files(dir.base + "/tmp"), std::vector<std::string>{});
    finish(dir);
}

// ---------------------------------------------------------------- streams that cannot be decoded

struct broken_case {
    std::string name;
    std::string file;  // site_summary.txt or data.txt
    std::string tool;
    std::function<void(std::string&)> damage;
    std::string err;
    std::size_t kept_lines = 0;  // when not 0, only these first lines are compressed
};

void cut_in_half(std::string& bytes) { bytes.resize(bytes.size() / 2); }
std::function<void(std::string&)> flip_from_end(std::size_t back) {
    return [back](std::string& bytes) { bytes[bytes.size() - back] ^= 1; };
}
void flip_in_middle(std::string& bytes) { bytes[bytes.size() / 2] ^= 0x10; }

std::vector<broken_case> broken_cases() {
    const std::string cut = ": unexpected end of compressed data\n";
    // A zstd frame header that asks for a 512 MB window (exponent 19 of the window byte).
    const auto huge_window = [](std::string& bytes) { bytes = std::string("\x28\xb5\x2f\xfd\x00\x98", 6); };
    return {
        {"gzip_cut_short", "data.txt", "gzip", cut_in_half, "varnex: arc/data.txt.gz" + cut},
        {"gzip_catalogue_cut_short", "site_summary.txt", "gzip", cut_in_half, "varnex: arc/site_summary.txt.gz" + cut},
        {"gzip_crc_flipped", "data.txt", "gzip", flip_from_end(8), "varnex: arc/data.txt.gz: incorrect data check\n"},
        {"zstd_cut_short", "data.txt", "zstd", cut_in_half, "varnex: arc/data.txt.zst" + cut},
        {"zstd_checksum_flipped", "data.txt", "zstd", flip_from_end(1),
         "varnex: arc/data.txt.zst: Restored data doesn't match checksum\n"},
        {"xz_cut_short", "data.txt", "xz", cut_in_half, "varnex: arc/data.txt.xz" + cut},
        {"xz_byte_flipped", "data.txt", "xz", flip_in_middle, "varnex: arc/data.txt.xz: compressed data is corrupt\n"},
        {"zstd_window_too_large", "data.txt", "zstd", huge_window,
         "varnex: arc/data.txt.zst: decoding needs 512 MB of memory, more than the 256 MB allowed\n"},
        {"gzip_ends_inside_header", "data.txt", "gzip", [](std::string&) {},
         "varnex: arc/data.txt.gz:51: the file ends inside its header\n", 50},
    };
}

class broken_streams : public ::testing::TestWithParam<broken_case> {};

TEST_P(broken_streams, fail_with_the_library_message_and_leave_nothing) {
    const broken_case& c = GetParam();
    const e2e::scratch_dir dir = e2e::make_scratch_dir();
    const std::string w = dir.work;
    for (const char* sub : {"/arc", "/out"}) std::filesystem::create_directories(w + sub);
    std::filesystem::create_directories(dir.base + "/tmp");
    ASSERT_EQ(support::generate_archive(VARNEX_ARCHIVE_TOOL, w + "/arc", archive_options), "");
    std::string plain = file(w + "/arc/" + c.file);
    for (std::size_t at = 0, lines = 0; c.kept_lines > 0 && at < plain.size(); ++at) {
        if (plain[at] == '\n' && ++lines == c.kept_lines) plain.resize(at + 1);
    }
    std::string bytes = compressed(dir.base, c.tool, plain, 1);
    c.damage(bytes);
    ASSERT_EQ(::unlink((w + "/arc/" + c.file).c_str()), 0);
    put(w + "/arc/" + c.file + suffix_of(c.tool), bytes);

    std::vector<std::string> args = span;
    for (const char* word : {"-q", "-C", "arc", "-o", "out", "--csv", "out/series.csv"}) args.push_back(word);
    const e2e::program_result run = support::run_batch(dir, VARNEX_BINARY, args, {{"TMPDIR", dir.base + "/tmp"}});
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(e2e::list_files(w + "/out"), std::vector<std::string>{});
    EXPECT_EQ(e2e::list_files(dir.base + "/tmp"), std::vector<std::string>{});
    finish(dir);
}

INSTANTIATE_TEST_SUITE_P(faults, broken_streams, ::testing::ValuesIn(broken_cases()), support::named_by_name());

// ---------------------------------------------------------------- which file a run reads

struct choice_case {
    std::string name;
    std::vector<std::string> files;  // put into arc/ besides the plain catalogue
    std::vector<std::string> args;   // after the span, -C arc and -o out
    int exit_status = 0;
    std::string err_start;  // standard error begins with it
    bool writes = true;     // the pair is written
};

std::vector<choice_case> choice_cases() {
    const std::string try_help = "Try 'varnex --help'.\n";
    return {
        // The compressed files beside the plain one are not even valid: only the plain one is read.
        {"plain_before_compressed",
         {"data.txt", "data.txt.gz"},
         {"-v"},
         0,
         "varnex: reading arc/data.txt, not arc/data.txt.gz\n"},
        {"plain_before_two_compressed",
         {"data.txt", "data.txt.xz", "data.txt.zst"},
         {"-v"},
         0,
         "varnex: reading arc/data.txt, not arc/data.txt.zst or arc/data.txt.xz\n"},
        {"plain_chosen_quietly_without_v", {"data.txt", "data.txt.gz"}, {"-q"}, 0, ""},
        {"two_compressed",
         {"data.txt.gz", "data.txt.xz"},
         {},
         2,
         "varnex: arc/data.txt.gz and arc/data.txt.xz are both present and arc/data.txt is not: name one with "
         "--data\n" +
             try_help,
         false},
        {"three_compressed_catalogues",
         {"data.txt", "site_summary.txt.gz", "site_summary.txt.zst", "site_summary.txt.xz"},
         {},
         2,
         "varnex: arc/site_summary.txt.gz, arc/site_summary.txt.zst and arc/site_summary.txt.xz are all present and "
         "arc/site_summary.txt is not: name one with --catalogue\n" +
             try_help,
         false},
        {"named_file_over_the_directory",
         {"data.txt", "site_summary.txt.gz", "site_summary.txt.zst"},
         {"--catalogue", "arc/missing"},
         1,
         "varnex: arc/missing: No such file or directory\n",
         false},
        {"both_on_standard_input",
         {"data.txt"},
         {"--catalogue", "-", "--data", "-"},
         2,
         "varnex: --catalogue and --data cannot both read standard input\n" + try_help,
         false},
        {"output_over_named_data",
         {"data.txt"},
         {"--data", "arc/data.txt", "--csv", "arc/data.txt"},
         2,
         "varnex: --csv arc/data.txt would overwrite the archive's data.txt\n" + try_help,
         false},
    };
}

class archive_choice : public ::testing::TestWithParam<choice_case> {};

TEST_P(archive_choice, reads_the_file_the_rules_give) {
    const choice_case& c = GetParam();
    const e2e::scratch_dir dir = e2e::make_scratch_dir();
    const std::string w = dir.work;
    for (const char* sub : {"/gen", "/arc", "/out"}) std::filesystem::create_directories(w + sub);
    ASSERT_EQ(support::generate_archive(VARNEX_ARCHIVE_TOOL, w + "/gen", archive_options), "");
    const bool catalogue_compressed = std::any_of(c.files.begin(), c.files.end(), [](const std::string& name) {
        return name.rfind("site_summary.txt.", 0) == 0;
    });
    if (!catalogue_compressed) put(w + "/arc/site_summary.txt", file(w + "/gen/site_summary.txt"));
    for (const std::string& name : c.files)
        put(w + "/arc/" + name, name == "data.txt" ? file(w + "/gen/data.txt") : "not compressed at all\n");

    std::vector<std::string> args = span;
    for (const char* word : {"-C", "arc", "-o", "out"}) args.push_back(word);
    args.insert(args.end(), c.args.begin(), c.args.end());
    const e2e::program_result run = support::run_batch(dir, VARNEX_BINARY, args);
    EXPECT_EQ(run.exit_status, c.exit_status) << run.err;
    EXPECT_EQ(run.err.substr(0, c.err_start.size()), c.err_start);
    EXPECT_EQ(e2e::list_files(w + "/out").size(), c.writes ? 2u : 0u);
    finish(dir);
}

INSTANTIATE_TEST_SUITE_P(choices, archive_choice, ::testing::ValuesIn(choice_cases()), support::named_by_name());

}  // namespace
