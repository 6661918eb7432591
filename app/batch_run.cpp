#include "app/batch_run.hpp"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <bit>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "app/archive_files.hpp"
#include "app/output_paths.hpp"
#include "app/run_setup.hpp"
#include "app/selections_file.hpp"
#include "app/station_list.hpp"
#include "app/terminal_ops.hpp"
#include "engine/background_sink.hpp"
#include "engine/csv_output.hpp"
#include "engine/extract.hpp"
#include "engine/netcdf_output.hpp"
#include "engine/replaced_file.hpp"
#include "engine/series_files.hpp"
#include "engine/station_report.hpp"
#include "engine/stations.hpp"
#include "engine/terminal_lines.hpp"
#include "engine/value_text.hpp"
#include "textio/failure.hpp"
#include "textio/read.hpp"
#include "textio/terminal.hpp"
#include "util/parallel.hpp"
#include "util/stop_signal.hpp"

namespace app {
namespace {

constexpr int report_unit = 16;
constexpr int csv_unit = 17;
constexpr int netcdf_unit = 18;

// A message that cannot be written is dropped: it never changes how the run ends.
void say_error(const std::string& line) { write_error_text("varnex: " + line + "\n"); }

std::string parent_dir(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A directory the run is to write into: it must exist and take new files. 0, or why not.
int unwritable_dir(const std::string& dir) {
    struct stat info;
    if (::stat(dir.c_str(), &info) != 0) return errno;
    if (!S_ISDIR(info.st_mode)) return ENOTDIR;
    if (::access(dir.c_str(), W_OK | X_OK) != 0) return errno;
    return 0;
}

// Output paths are checked before the archive is read.
bool output_places_usable(const batch_options& o) {
    std::vector<std::pair<std::string, std::string>> places;  // (directory, what to name)
    if (o.write_legacy) places.push_back({o.output_dir, o.output_dir});
    for (const std::string* path : {&o.report_path, &o.csv_path, &o.netcdf_path})
        if (!path->empty() && stream_descriptor(*path) < 0) places.push_back({parent_dir(*path), *path});
    for (std::size_t i = 0; i < places.size(); ++i) {
        const auto& [dir, name] = places[i];
        if (const int error = unwritable_dir(dir); error != 0) {
            const bool output_dir_missing = o.write_legacy && i == 0 && error == ENOENT;
            say_error(output_dir_missing ? "output directory " + name + " does not exist (-o)"
                                         : name + ": " + std::strerror(error));
            return false;
        }
    }
    return true;
}

// Everything a batch run writes, and how far it got.
struct batch_files {
    engine::archive archive;
    std::string catalogue_source, observations_source;
    engine::replaced_file series_file, coordinates_file, report_file, csv_file, netcdf_file;
    engine::series_pair pair;
    textio::out_unit report;
    std::optional<engine::csv_writer> csv;
    std::optional<engine::netcdf_writer> netcdf;
};

// An output unit on the temporary file, reported under the final name.
void open_replacement(textio::out_unit& unit, engine::replaced_file& file, int unit_number) {
    textio::open_output(unit, unit_number, engine::make_temp_file(file, unit_number));
    unit.name = file.final_path;
}

void open_outputs(const batch_options& o, const engine::station_selection& selection, const engine::run_settings& run,
                  batch_files& f) {
    if (o.write_legacy) {
        const std::string tag(run.type_tag, sizeof run.type_tag);
        f.series_file =
            engine::lock_final_name(in_dir(o.output_dir, engine::series_file_name(tag)), engine::series_unit);
        f.coordinates_file =
            engine::lock_final_name(in_dir(o.output_dir, engine::coordinates_file_name(tag)), engine::coordinates_unit);
        open_replacement(f.pair.series, f.series_file, engine::series_unit);
        open_replacement(f.pair.coordinates, f.coordinates_file, engine::coordinates_unit);
        engine::start_series_pair(f.pair, run.separator);
    }
    if (const int fd = stream_descriptor(o.report_path); fd >= 0) {
        textio::attach_stream_output(f.report, fd, stream_name(fd));
    } else if (!o.report_path.empty()) {
        f.report_file = engine::lock_final_name(o.report_path, report_unit);
        open_replacement(f.report, f.report_file, report_unit);
    }
    if (const int fd = stream_descriptor(o.csv_path); fd >= 0) {
        f.csv = engine::open_csv_stream(textio::closed_at_start(fd) ? -1 : fd, stream_name(fd), o.has_near);
    } else if (!o.csv_path.empty()) {
        f.csv_file = engine::lock_final_name(o.csv_path, csv_unit);
        f.csv = engine::open_csv(engine::make_temp_file(f.csv_file, csv_unit), o.has_near);
        f.csv->path = f.csv_file.final_path;  // messages name the file the user asked for
    }
    if (!o.netcdf_path.empty()) {
        f.netcdf_file = engine::lock_final_name(o.netcdf_path, netcdf_unit);
        f.netcdf = engine::create_netcdf(engine::make_temp_file(f.netcdf_file, netcdf_unit),
                                         meta_of(o, selection, run, f.catalogue_source, f.observations_source),
                                         engine::default_deflate_level, f.netcdf_file.final_path);
    }
}

// On a terminal, a run longer than about a second shows how far it got, on one line that
// is erased at the end.
class progress_sink : public engine::station_sink {
public:
    progress_sink(bool shown, const textio::in_unit& observations) : shown_(shown), observations_(observations) {}
    ~progress_sink() override {
        if (drawn_) write_text("\r\033[K");
    }
    // Selections read together add up their tables.
    void table_loaded(std::int32_t count) override { total_ += count; }
    void station(const engine::station_row&, const engine::station_verdict&, const engine::year_month_grid&) override {
        ++done_;
        if (!shown_) return;
        const auto now = std::chrono::steady_clock::now();
        if (now - started_ < std::chrono::seconds(1) || now - last_drawn_ < std::chrono::milliseconds(200)) return;
        last_drawn_ = now;
        drawn_ = true;
        const long long megabytes = textio::input_offset(observations_) / 1000000;
        write_text("\rvarnex: " + std::to_string(megabytes) + " MB of data.txt read, " + std::to_string(done_) +
                   " of " + std::to_string(total_) + " stations done\033[K");
    }

private:
    static void write_text(const std::string& text) { write_error_text(text); }
    bool shown_;
    const textio::in_unit& observations_;
    std::int32_t total_ = 0;
    std::int32_t done_ = 0;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point last_drawn_{};
};

// With a second thread allowed, the series files, the report and the station lines are
// made on one thread and the CSV and netCDF files on one each, beside the pass; the
// progress line stays with the pass, which knows how far data.txt was read.
engine::extraction_summary extract(const batch_options& o, const engine::run_settings& run, engine::station_table table,
                                   batch_files& f) {
    textio::out_unit err;
    textio::attach_message_output(err);
    engine::terminal_lines_sink station_lines(run, err, false);
    progress_sink progress(!o.quiet && !o.verbose && ::isatty(2) == 1, f.archive.observations);
    engine::series_files_sink legacy(run, f.pair);
    engine::station_report_sink report(f.report, o.has_near);
    std::optional<engine::csv_sink> csv;
    std::optional<engine::netcdf_sink> netcdf;
    std::vector<engine::station_sink*> in_order;
    if (o.verbose) in_order.push_back(&station_lines);
    if (o.write_legacy) in_order.push_back(&legacy);
    if (!o.report_path.empty()) in_order.push_back(&report);
    engine::fan_out_sink ordered(in_order);
    std::vector<engine::station_sink*> sinks = {&progress};
    if (f.csv) sinks.push_back(&csv.emplace(*f.csv, run.fyod, run.lyod));
    if (f.netcdf) sinks.push_back(&netcdf.emplace(*f.netcdf, run.fyod, run.lyod));
    if (!util::second_thread_allowed()) {
        sinks.push_back(&ordered);
        engine::fan_out_sink all(sinks);
        return engine::extract_stations(run, std::move(table), f.archive.observations, all);
    }
    std::deque<engine::background_sink> behind;
    for (engine::station_sink*& sink : sinks)
        if (sink != &progress) sink = &behind.emplace_back(*sink, run.fyod, run.lyod);
    sinks.push_back(&behind.emplace_back(ordered, run.fyod, run.lyod));
    std::vector<engine::background_sink*> threads;
    for (engine::background_sink& b : behind) threads.push_back(&b);
    engine::fan_out_sink all(sinks);
    return engine::extract_stations_behind(run, std::move(table), f.archive.observations, all, threads);
}

// Writes and closes everything while nothing has replaced a final name yet.
void finish_outputs(batch_files& f) {
    if (f.pair.series.fd >= 0) {
        engine::flush_series_pair(f.pair);
        textio::close_output(f.pair.series);
        textio::close_output(f.pair.coordinates);
    }
    if (f.report.fd >= 0) textio::close_output(f.report);
    if (f.csv) engine::close_csv(*f.csv);
    if (f.netcdf) engine::close_netcdf(*f.netcdf);
    textio::close_input(f.archive.observations);
}

// The files replaced by a run, the series file first.
std::array<engine::replaced_file*, 5> replaced_files(batch_files& f) {
    return {&f.series_file, &f.coordinates_file, &f.report_file, &f.csv_file, &f.netcdf_file};
}

void abandon_outputs(batch_files& f) {
    if (f.csv) engine::discard_csv(*f.csv);
    if (f.netcdf) engine::discard_netcdf(*f.netcdf);
    textio::close_all_units();
    for (engine::replaced_file* file : replaced_files(f)) engine::abandon_file(*file);
}

// Every temporary file's data on the disk before any rename; false after a refusal
// (reported here), when nothing may be committed.
bool sync_outputs(batch_files& f) {
    for (engine::replaced_file* file : replaced_files(f)) {
        if (const int error = engine::sync_temp_file(*file); error != 0) {
            say_error(file->final_path + ": cannot write it to the disk: " + std::strerror(error));
            return false;
        }
    }
    return true;
}

// Renames every temporary file over its final name, the series file first. Returns the
// final paths written, or nothing after a refusal (reported here); what was renamed before
// it stays.
std::optional<std::vector<std::string>> rename_outputs(batch_files& f) {
    std::vector<std::string> written;
    for (engine::replaced_file* file : replaced_files(f)) {
        if (file->temp_path.empty() && !file->in_place) continue;
        if (!engine::commit_file(*file)) {
            std::string text = file->final_path + ": cannot replace it: " + std::strerror(errno);
            if (file == &f.coordinates_file)
                text += "; " + f.series_file.final_path + " is new and " + file->final_path + " is not";
            say_error(text);
            for (engine::replaced_file* rest : replaced_files(f)) engine::abandon_file(*rest);
            return std::nullopt;
        }
        written.push_back(file->final_path);
    }
    return written;
}

// A rename is on the disk once its directory is: a refusal there leaves the run's result
// in place, so it is only a warning.
void sync_directories(batch_files& f) {
    for (engine::replaced_file* file : replaced_files(f)) {
        if (file->final_path.empty() || file->in_place) continue;
        const int error = engine::sync_final_directory(*file);
        if (error != 0)
            say_error("warning: " + file->final_path +
                      ": cannot write its directory to the disk: " + std::strerror(error));
    }
}

// `label` leads every line: empty for a run of one selection, "NAME: " for one of several.
void report_summary(const batch_options& o, const engine::extraction_summary& s,
                    const std::vector<std::string>& written, const std::string& label) {
    if (o.quiet) return;
    const std::string span =
        o.fyod == o.lyod ? std::to_string(o.fyod) : std::to_string(o.fyod) + "-" + std::to_string(o.lyod);
    const bool box_alone = o.has_box && !o.has_station_list && !o.has_near;
    say_error(label + std::to_string(s.qualifying) + (s.qualifying == 1 ? " station" : " stations") +
              (box_alone ? " in the box, " : " selected, ") + std::to_string(s.saved) + " saved, " +
              std::to_string(s.no_records) + " without records, " + std::to_string(s.span_not_covered) +
              " not covering " + span + ", " + std::to_string(s.too_many_missing) + " with too many missing months, " +
              std::to_string(s.implausible) + " with implausible values");
    for (const std::string& path : written) say_error(label + "wrote " + path);
    if (s.saved == 0) say_error(label + "warning: no station saved");
}

// The outputs in the order messages name them: the pair, the report, the CSV, the netCDF.
std::vector<output_claim> output_claims(const batch_options& o) {
    std::vector<output_claim> claims;
    if (o.write_legacy) {
        const std::string_view tag(engine::data_type_tags[o.data_type - 1], 5);
        claims.push_back({"-o", in_dir(o.output_dir, engine::series_file_name(tag))});
        claims.push_back({"-o", in_dir(o.output_dir, engine::coordinates_file_name(tag))});
    }
    if (!o.report_path.empty()) claims.push_back({"--report", o.report_path});
    if (!o.csv_path.empty()) claims.push_back({"--csv", o.csv_path});
    if (!o.netcdf_path.empty()) claims.push_back({"--netcdf", o.netcdf_path});
    return claims;
}

// A reader gone from a stream output ends the run as it ends a filter: by SIGPIPE, with
// no message and nothing committed.
[[noreturn]] void end_by_sigpipe() {
    std::signal(SIGPIPE, SIG_DFL);
    sigset_t pipe_signal;
    sigemptyset(&pipe_signal);
    sigaddset(&pipe_signal, SIGPIPE);
    pthread_sigmask(SIG_UNBLOCK, &pipe_signal, nullptr);
    std::raise(SIGPIPE);
    std::_Exit(128 + SIGPIPE);
}

[[noreturn]] void end_by_broken_pipe(batch_files& f) {
    abandon_outputs(f);
    end_by_sigpipe();
}

// Syncs, then renames every output, unless a stop signal came first. With the signals
// blocked the flag is tested once: after that no signal can undo a commit half made.
int commit(const batch_options& o, const engine::extraction_summary& summary, batch_files& f,
           const std::string& label) {
    if (!sync_outputs(f)) {
        abandon_outputs(f);
        return 1;
    }
    std::optional<std::vector<std::string>> written;
    {
        const util::stop_signals_blocked blocked;
        if (const int signal_number = util::stop_signal(); signal_number != 0) {
            abandon_outputs(f);
            return 128 + signal_number;
        }
        written = rename_outputs(f);
    }
    if (!written) return 1;
    sync_directories(f);
    report_summary(o, summary, *written, label);
    return 0;
}

// The selectors of the options, or a status to exit with after the refusal is said.
std::optional<int> read_selection_or_say(const batch_options& o, engine::station_selection& s,
                                         const std::string& context = "") {
    const selection_refusal refusal = app::read_selection(o, s, context);
    if (refusal.status == 0) return std::nullopt;
    if (refusal.status == usage_exit_status) {
        write_error_text(usage_error_text(refusal.message));
    } else {
        say_error(refusal.message);
    }
    return refusal.status;
}

// Listed identifiers that no catalogue station has: the first ten of them, in the order
// listed.
void warn_not_in_catalogue(const batch_options& o, const engine::station_table& table, const std::string& label = "") {
    const std::vector<std::int32_t>& absent = table.not_in_catalogue;
    if (absent.empty() || o.quiet) return;
    constexpr std::size_t most_named = 10;
    std::string text = label + std::to_string(absent.size()) + " of " + std::to_string(table.listed_count) +
                       " listed stations " + (absent.size() == 1 ? "is" : "are") + " not in the catalogue: ";
    for (std::size_t i = 0; i < absent.size() && i < most_named; ++i) {
        if (i > 0) text += ", ";
        engine::append_integer(text, absent[i]);
    }
    if (absent.size() > most_named) text += ", ...";
    say_error(text);
}

void say_box_across_dateline(const batch_options& o, const std::string& label = "") {
    if (!o.crosses_dateline || o.quiet) return;
    std::string west, east;
    engine::append_free_form_real(west, o.min_lon);
    engine::append_free_form_real(east, o.max_lon);
    say_error(label + "the box crosses the 180th meridian: longitudes " + west + "..180 and -180.." + east);
}

// With -v, for a data.txt read as it came (a pipe, standard input, a compressed file): the
// most of it kept at once for later searches beside the stretch being read, and how much of
// that went into the temporary file.
void say_bytes_copied(const batch_options& o, const textio::in_unit& data) {
    if (!o.verbose || !data.spool) return;
    say_error(data.name + ": at most " + std::to_string(textio::most_bytes_kept_at_once(data)) +
              " bytes kept for later searches, " + std::to_string(textio::bytes_kept_on_disk(data)) +
              " of them in a temporary file");
}

// With -v: the plain file read where a compressed one lies beside it.
void say_which_files_read(const batch_options& o, const archive_sources& sources) {
    if (!o.verbose) return;
    for (const archive_source* source : {&sources.catalogue, &sources.data})
        if (!source->note.empty()) say_error(source->note);
}

// A catalogue repeats its coordinates and fourth values, and writing a real exactly is
// most of the time of a long list: each different value is written once.
struct real_texts {
    std::unordered_map<std::uint32_t, std::string> known;  // by the float's bits
};

void append_real(std::string& out, real_texts& texts, float value) {
    const auto [at, fresh] = texts.known.try_emplace(std::bit_cast<std::uint32_t>(value));
    if (fresh) engine::append_free_form_real(at->second, value);
    out += at->second;
}

// The --list lines: the report's columns of a station, with its fourth value and, with a
// point, its distance.
std::string station_list_text(const engine::station_table& t, bool with_distance) {
    std::string text = with_distance ? station_list_header_with_distance : station_list_header;
    real_texts texts;
    for (std::size_t i = 0; i < t.station_id.size(); ++i) {
        engine::append_integer(text, t.station_id[i]);
        for (const float value : {t.station_lon[i], t.station_lat[i], t.station_extra[i]}) {
            text.push_back('\t');
            append_real(text, texts, value);
        }
        if (with_distance) {
            text.push_back('\t');
            engine::append_distance(text, t.distance_km[i]);
        }
        text.push_back('\n');
    }
    return text;
}

// ---- Many selections in one pass (--selections)

// A selection as it runs: its options, what it selects, and its outputs.
struct selection_run {
    const named_selection* named = nullptr;
    std::string label;  // "NAME: ", before each message about it alone
    engine::station_selection selection;
    engine::run_settings run;
    batch_files files;
    bool made_output_dir = false;
    bool committed = false;
};

// A selection's outputs as sinks, in the order a separate run hands them its stations.
struct selection_sinks {
    selection_sinks(const batch_options& o, const engine::run_settings& run, batch_files& f)
        : legacy(run, f.pair), report(f.report, o.has_near) {
        std::vector<engine::station_sink*> sinks;
        if (f.csv) sinks.push_back(&csv.emplace(*f.csv, run.fyod, run.lyod));
        if (f.netcdf) sinks.push_back(&netcdf.emplace(*f.netcdf, run.fyod, run.lyod));
        if (o.write_legacy) sinks.push_back(&legacy);
        if (!o.report_path.empty()) sinks.push_back(&report);
        all.emplace(std::move(sinks));
    }
    engine::series_files_sink legacy;
    engine::station_report_sink report;
    std::optional<engine::csv_sink> csv;
    std::optional<engine::netcdf_sink> netcdf;
    std::optional<engine::fan_out_sink> all;
};

// The directory of each selection's pair, made when absent; false after a refusal
// (reported here).
bool make_output_dirs(std::deque<selection_run>& runs) {
    for (selection_run& r : runs) {
        const batch_options& o = r.named->options;
        if (!o.write_legacy) continue;
        if (::mkdir(o.output_dir.c_str(), 0777) == 0) {
            r.made_output_dir = true;
        } else if (errno == ENOENT) {
            say_error("output directory " + parent_dir(o.output_dir) + " does not exist (-o)");
            return false;
        } else if (errno != EEXIST) {
            say_error(o.output_dir + ": " + std::strerror(errno));
            return false;
        }
    }
    return true;
}

// A directory made for a selection that commits nothing goes, as a separate run would
// leave none.
void remove_uncommitted_dirs(const std::deque<selection_run>& runs) {
    for (const selection_run& r : runs)
        if (r.made_output_dir && !r.committed) ::rmdir(r.named->options.output_dir.c_str());
}

// Every output of every selection, and each directory made for one.
std::string selections_clash(const std::deque<selection_run>& runs, const std::vector<archive_file>& archive) {
    std::vector<output_claim> claims;
    for (const selection_run& r : runs) {
        if (r.named->options.write_legacy) claims.push_back({"-o", r.named->options.output_dir});
        for (output_claim& claim : output_claims(r.named->options)) claims.push_back(std::move(claim));
    }
    return output_clash(claims, archive);
}

// A failed selection's outputs go while the others' stay open.
void abandon_selection(batch_files& f) {
    if (f.csv) engine::discard_csv(*f.csv);
    if (f.netcdf) engine::discard_netcdf(*f.netcdf);
    for (textio::out_unit* unit : {&f.pair.series, &f.pair.coordinates, &f.report}) {
        try {
            textio::close_output(*unit);
        } catch (const textio::io_failure&) {
            // Its file goes anyway; a stream keeps what it took, as after a failed run.
        }
    }
    for (engine::replaced_file* file : replaced_files(f)) engine::abandon_file(*file);
}

void abandon_all(std::deque<selection_run>& runs) {
    for (selection_run& r : runs)
        if (!r.committed) abandon_outputs(r.files);
    remove_uncommitted_dirs(runs);
}

// One pass for every selection. With a second thread, each selection's outputs are
// written behind the pass on a thread of their own.
void pass_selections(std::deque<selection_run>& runs, std::vector<engine::selection_pass>& passes,
                     textio::in_unit& observations, progress_sink& progress) {
    std::deque<selection_sinks> outputs;
    std::deque<engine::background_sink> behind;
    std::deque<engine::fan_out_sink> counted;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        selection_run& r = runs[i];
        selection_sinks& sinks = outputs.emplace_back(r.named->options, r.run, r.files);
        engine::station_sink* written = &*sinks.all;
        if (util::second_thread_allowed()) written = &behind.emplace_back(*written, r.run.fyod, r.run.lyod);
        passes[i].sink = &counted.emplace_back(std::vector<engine::station_sink*>{&progress, written});
    }
    try {
        engine::extract_selections(passes, observations);
    } catch (...) {
        for (engine::background_sink& b : behind) b.finish();
        throw;
    }
    for (engine::background_sink& b : behind) b.finish();
}

// After the pass: the failed selections' outputs go, the others' are written and closed.
void finish_selections(std::deque<selection_run>& runs, const std::vector<engine::selection_pass>& passes) {
    for (std::size_t i = 0; i < runs.size(); ++i) {
        if (passes[i].failed) {
            abandon_selection(runs[i].files);
        } else {
            finish_outputs(runs[i].files);
        }
    }
}

// Each selection in the file's order: its failure, or its commit and summary. The status
// of the run.
int commit_selections(std::deque<selection_run>& runs, const std::vector<engine::selection_pass>& passes) {
    std::string failed;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        selection_run& r = runs[i];
        int status = 1;
        if (passes[i].failed) {
            say_error(r.label + failure_text(passes[i].failure));
        } else {
            status = commit(r.named->options, passes[i].summary, r.files, r.label);
            r.committed = status == 0;
        }
        if (status > 1) {
            abandon_all(runs);
            return status;
        }
        if (status == 1) failed += (failed.empty() ? "" : ", ") + r.named->name;
    }
    remove_uncommitted_dirs(runs);
    if (failed.empty()) return 0;
    say_error("selections failed: " + failed);
    return 1;
}

// Everything before the archive is read: the selections, their files of identifiers,
// their directories and the places of their outputs. A status to exit with, when one of
// them is refused.
std::optional<int> prepare_selections(const std::vector<named_selection>& named, std::deque<selection_run>& runs,
                                      const std::vector<archive_file>& archive) {
    for (const named_selection& n : named) {
        selection_run& r = runs.emplace_back();
        r.named = &n;
        r.label = n.name + ": ";
        if (const std::optional<int> status =
                read_selection_or_say(n.options, r.selection, "--selections: " + n.place + ": "))
            return status;
        r.run = settings_of(n.options);
    }
    if (!make_output_dirs(runs)) return 1;
    if (const std::string clash = selections_clash(runs, archive); !clash.empty()) {
        write_error_text(usage_error_text(clash));
        return usage_exit_status;
    }
    for (const selection_run& r : runs) say_box_across_dateline(r.named->options, r.label);
    for (const selection_run& r : runs)
        if (!output_places_usable(r.named->options)) return 1;
    return std::nullopt;
}

int run_prepared_selections(const batch_options& o, const archive_sources& sources, std::deque<selection_run>& runs) {
    engine::archive archive;
    const std::string catalogue_source = open_archive_file(archive.catalogue, engine::catalogue_unit,
                                                           sources.catalogue.path, engine::catalogue_header_lines);
    const std::string observations_source = open_archive_file(archive.observations, engine::observations_unit,
                                                              sources.data.path, engine::observations_header_lines);
    std::vector<engine::selection_pass> passes(runs.size());
    for (std::size_t i = 0; i < runs.size(); ++i) {
        selection_run& r = runs[i];
        r.files.catalogue_source = catalogue_source;
        r.files.observations_source = observations_source;
        open_outputs(r.named->options, r.selection, r.run, r.files);
        passes[i].run = &r.run;
    }
    const engine::station_catalogue catalogue = engine::read_station_catalogue(archive.catalogue);
    for (std::size_t i = 0; i < runs.size(); ++i) {
        engine::select_stations(runs[i].selection, catalogue, passes[i].table);
        warn_not_in_catalogue(runs[i].named->options, passes[i].table, runs[i].label);
    }
    progress_sink progress(!o.quiet && ::isatty(2) == 1, archive.observations);
    pass_selections(runs, passes, archive.observations, progress);
    if (const int signal_number = passes.front().summary.stop_signal; signal_number != 0) {
        abandon_all(runs);
        return 128 + signal_number;
    }
    finish_selections(runs, passes);
    textio::close_input(archive.observations);
    return commit_selections(runs, passes);
}

int run_selections(const batch_options& o) {
    std::vector<named_selection> named;
    int error = 0;
    if (const std::string problem = read_selections(o, named, error); !problem.empty()) {
        write_error_text(usage_error_text(problem));
        return usage_exit_status;
    }
    if (error != 0) {
        say_error(o.selections_path + ": " + std::strerror(error));
        return 1;
    }
    const archive_sources sources = locate_archive(o);
    if (!sources.problem.empty()) {
        write_error_text(usage_error_text(sources.problem));
        return usage_exit_status;
    }
    std::deque<selection_run> runs;
    if (const std::optional<int> status = prepare_selections(named, runs, clash_targets(sources))) {
        remove_uncommitted_dirs(runs);
        return *status;
    }
    try {
        return run_prepared_selections(o, sources, runs);
    } catch (const textio::io_failure& failure) {
        abandon_all(runs);
        if (failure.error_number == EPIPE) end_by_sigpipe();
        say_error(failure_text(failure));
    } catch (const engine::output_error& failure) {
        abandon_all(runs);
        if (failure.error_number == EPIPE) end_by_sigpipe();
        say_error(failure.what());
    } catch (const std::exception& failure) {
        abandon_all(runs);
        say_error(failure.what());
    }
    return 1;
}

}  // namespace

int run_list(const batch_options& o) {
    const archive_sources sources = locate_archive(o);
    if (!sources.problem.empty()) {
        write_error_text(usage_error_text(sources.problem));
        return usage_exit_status;
    }
    engine::station_selection selection;
    if (const std::optional<int> status = read_selection_or_say(o, selection)) return *status;
    say_box_across_dateline(o);
    say_which_files_read(o, sources);
    textio::in_unit catalogue;
    textio::out_unit out;
    try {
        open_archive_file(catalogue, engine::catalogue_unit, sources.catalogue.path, engine::catalogue_header_lines);
        engine::station_table table;
        engine::load_station_catalogue(selection, catalogue, table);
        warn_not_in_catalogue(o, table);
        textio::attach_stream_output(out, 1, stream_name(1));
        textio::write_bytes(out, station_list_text(table, o.has_near));
        return 0;
    } catch (const textio::io_failure& failure) {
        if (failure.error_number == EPIPE) {
            std::signal(SIGPIPE, SIG_DFL);
            std::raise(SIGPIPE);
            std::_Exit(128 + SIGPIPE);
        }
        textio::close_all_units();
        say_error(failure_text(failure));
    }
    return 1;
}

int run_batch(const batch_options& o) {
    if (!o.selections_path.empty()) return run_selections(o);
    const archive_sources sources = locate_archive(o);
    if (!sources.problem.empty()) {
        write_error_text(usage_error_text(sources.problem));
        return usage_exit_status;
    }
    const std::string clash = output_clash(output_claims(o), clash_targets(sources));
    if (!clash.empty()) {
        write_error_text(usage_error_text(clash));
        return usage_exit_status;
    }
    engine::station_selection selection;
    if (const std::optional<int> status = read_selection_or_say(o, selection)) return *status;
    say_box_across_dateline(o);
    say_which_files_read(o, sources);
    if (!output_places_usable(o)) return 1;
    const engine::run_settings run = settings_of(o);
    batch_files f;
    try {
        f.catalogue_source = open_archive_file(f.archive.catalogue, engine::catalogue_unit, sources.catalogue.path,
                                               engine::catalogue_header_lines);
        f.observations_source = open_archive_file(f.archive.observations, engine::observations_unit, sources.data.path,
                                                  engine::observations_header_lines);
        open_outputs(o, selection, run, f);
        engine::station_table table;
        engine::load_station_catalogue(selection, f.archive.catalogue, table);
        warn_not_in_catalogue(o, table);
        const engine::extraction_summary summary = extract(o, run, std::move(table), f);
        say_bytes_copied(o, f.archive.observations);
        if (summary.stop_signal != 0) {
            abandon_outputs(f);
            return 128 + summary.stop_signal;
        }
        finish_outputs(f);
        return commit(o, summary, f, "");
    } catch (const textio::io_failure& failure) {
        if (failure.error_number == EPIPE) end_by_broken_pipe(f);
        abandon_outputs(f);
        say_error(failure_text(failure));
    } catch (const engine::output_error& failure) {
        if (failure.error_number == EPIPE) end_by_broken_pipe(f);
        abandon_outputs(f);
        say_error(failure.what());
    } catch (const std::exception& failure) {
        abandon_outputs(f);
        say_error(failure.what());
    }
    return 1;
}

}  // namespace app
