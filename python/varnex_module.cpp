// The Python module varnex: the engine called in-process, its saved stations returned as
// an xarray Dataset, its verdicts and the selected stations as pandas DataFrames. The
// keyword arguments become the command line's option words and go through its parser and
// its checks, so that a call refuses what the program refuses, in the program's words.
#include <pybind11/eval.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <signal.h>

#include <cstdint>
#include <limits>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/archive_files.hpp"
#include "app/batch_options.hpp"
#include "app/run_setup.hpp"
#include "app/station_list.hpp"
#include "engine/extract.hpp"
#include "engine/netcdf_output.hpp"
#include "engine/station_report.hpp"
#include "engine/station_series.hpp"
#include "engine/stations.hpp"
#include "textio/units.hpp"
#include "util/parallel.hpp"
#include "util/stop_signal.hpp"

#ifndef VARNEX_VERSION
#error "VARNEX_VERSION must come from the build (project version in CMakeLists.txt)"
#endif

namespace py = pybind11;

namespace varnex_python {
namespace {

// ---- Arguments as option words

// A number as a plain decimal: an integer as it is, a float in its shortest exact digits.
std::string number_word(py::handle value, const char* argument) {
    if (py::isinstance<py::bool_>(value) || !(PyIndex_Check(value.ptr()) || PyFloat_Check(value.ptr()) ||
                                              py::isinstance(value, py::module_::import("numpy").attr("floating"))))
        throw py::type_error(std::string(argument) + " takes numbers, not " +
                             std::string(py::str(value.get_type().attr("__name__"))));
    if (PyIndex_Check(value.ptr())) return py::str(py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr())));
    const py::object positional = py::module_::import("numpy").attr("format_float_positional");
    return py::str(
        positional(py::reinterpret_borrow<py::object>(value), py::arg("unique") = true, py::arg("trim") = "-"));
}

// A tuple's numbers joined by `separator` (a single number alone); the command line judges
// how many there are.
std::string numbers_word(py::handle value, const char* argument, const char* separator) {
    if (py::isinstance<py::str>(value) || !py::isinstance<py::iterable>(value)) return number_word(value, argument);
    std::string word;
    bool first = true;
    for (py::handle item : value) {
        if (!first) word += separator;
        word += number_word(item, argument);
        first = false;
    }
    return word;
}

struct arguments {
    py::object archive, lat, lon, years, max_missing, type, stations, near, radius, nearest;
};

void add_word(std::vector<std::string>& words, const char* option, const std::string& value) {
    words.push_back(std::string(option) + "=" + value);
}

// The command line of a call, without the program's name. Every value is given as
// --option=VALUE, so that a value beginning with "-" is never taken for an option.
std::vector<std::string> option_words(const arguments& a) {
    std::vector<std::string> words;
    add_word(words, "--archive", py::str(py::module_::import("os").attr("fspath")(a.archive)));
    if (!a.lat.is_none()) add_word(words, "--lat", numbers_word(a.lat, "lat", ","));
    if (!a.lon.is_none()) add_word(words, "--lon", numbers_word(a.lon, "lon", ","));
    if (!a.stations.is_none()) {
        if (py::isinstance<py::str>(a.stations)) throw py::type_error("stations takes an iterable of integers");
        std::string ids;
        for (py::handle id : a.stations) {
            if (!PyIndex_Check(id.ptr()) || py::isinstance<py::bool_>(id))
                throw py::type_error("stations takes an iterable of integers");
            ids += (ids.empty() ? "" : ",") + number_word(id, "stations");
        }
        add_word(words, "--stations", ids);
    }
    if (!a.near.is_none()) add_word(words, "--near", numbers_word(a.near, "near", ","));
    if (!a.radius.is_none()) add_word(words, "--radius", number_word(a.radius, "radius"));
    if (!a.nearest.is_none()) add_word(words, "--nearest", number_word(a.nearest, "nearest"));
    if (!a.years.is_none()) add_word(words, "--years", numbers_word(a.years, "years", "-"));
    if (!a.max_missing.is_none()) add_word(words, "--max-missing", number_word(a.max_missing, "max_missing"));
    if (!a.type.is_none()) add_word(words, "--type", py::str(a.type));
    return words;
}

// The options as the command line reads them; ValueError with its message otherwise.
app::batch_options parsed_options(std::vector<std::string> words, bool list_only) {
    words.insert(words.begin(), "varnex");
    if (list_only) words.push_back("--list");
    std::vector<const char*> argv;
    for (const std::string& w : words) argv.push_back(w.c_str());
    app::batch_outcome outcome = app::parse_batch_options(static_cast<int>(argv.size()), argv.data());
    if (outcome.action != app::batch_action::run) throw py::value_error(outcome.message);
    return std::move(outcome.options);
}

// ---- Failures as exceptions

// Raised, with the GIL held, by the translator of the module's failures.
py::object archive_error;

// An archive or file failure, with the engine's record of it.
struct archive_failure {
    std::string message;
    std::string filename;
    long line = 0;
    int field = 0;
    std::string text;
    int error_number = 0;
};

// Thrown by the engine's callers with the GIL released: the text of a usage problem.
struct usage_problem {
    std::string message;
};

void raise_archive_error(const archive_failure& f) {
    py::object error = archive_error(f.message);
    if (f.error_number != 0) error.attr("errno") = f.error_number;
    error.attr("filename") = f.filename.empty() ? py::object(py::none()) : py::object(py::str(f.filename));
    error.attr("line") = f.line;
    error.attr("field") = f.field;
    error.attr("text") = py::bytes(f.text).attr("decode")("utf-8", "replace");
    PyErr_SetObject(archive_error.ptr(), error.ptr());
}

archive_failure failure_of(const textio::io_failure& f) {
    return {app::failure_text(f), f.file_name, f.line, f.field, f.text, f.error_number};
}

// ---- Calls of the engine

// The engine holds process-wide state (its open units, the lost-page handler, the stop
// poll), so one call runs at a time; a second waits here, without the GIL.
std::mutex engine_mutex;

// The call under way: the thread that made it (Python's main thread, or a call that cannot
// be interrupted), and the exception a signal handler raised, kept until the engine returns.
// Written under engine_mutex; read by the poll, which runs on the caller's thread.
std::thread::id calling_thread;
bool interrupted = false;
PyObject* pending_type = nullptr;
PyObject* pending_value = nullptr;
PyObject* pending_traceback = nullptr;

// The stop poll of the engine: after each chunk of the scan and before each station, the
// calling thread takes the GIL and lets Python run its signal handlers. An exception they
// raise (KeyboardInterrupt for Ctrl-C) stops the engine at that boundary.
int poll_python_signals() {
    if (std::this_thread::get_id() != calling_thread) return 0;
    if (interrupted) return SIGINT;
    const py::gil_scoped_acquire gil;
    if (PyErr_CheckSignals() == 0) return 0;
    PyErr_Fetch(&pending_type, &pending_value, &pending_traceback);
    interrupted = true;
    return SIGINT;
}

// Runs `body` with the GIL released and the engine to itself. Every unit it opened is
// closed however it ends; its failures come back as exceptions once the GIL is held again.
template <class Body>
void run_engine(Body&& body) {
    archive_failure failed;
    usage_problem refused;
    std::string other;
    bool has_failure = false;
    bool has_refusal = false;
    bool has_other = false;
    {
        const py::gil_scoped_release released;
        const std::lock_guard<std::mutex> lock(engine_mutex);
        calling_thread = std::this_thread::get_id();
        interrupted = false;
        util::set_stop_poll(poll_python_signals);
        try {
            body();
        } catch (const textio::io_failure& f) {
            failed = failure_of(f);
            has_failure = true;
        } catch (const archive_failure& f) {
            failed = f;
            has_failure = true;
        } catch (const usage_problem& p) {
            refused = p;
            has_refusal = true;
        } catch (const std::exception& e) {
            other = e.what();
            has_other = true;
        }
        util::set_stop_poll(nullptr);
        textio::close_all_units();
    }
    if (interrupted) {
        PyErr_Restore(pending_type, pending_value, pending_traceback);
        pending_type = pending_value = pending_traceback = nullptr;
        throw py::error_already_set();
    }
    if (has_refusal) throw py::value_error(refused.message);
    if (has_other) throw std::runtime_error(other);
    if (has_failure) {
        raise_archive_error(failed);
        throw py::error_already_set();
    }
}

// The archive's catalogue opened past its header, and the stations of the selection.
struct opened_archive {
    engine::archive files;
    std::string catalogue_source, observations_source;
    engine::station_selection selection;
    engine::station_table table;
};

// What the command line checks before it reads the archive, then the catalogue read.
void open_and_select(const app::batch_options& o, opened_archive& a, bool with_data) {
    const app::archive_sources sources = app::locate_archive(o);
    if (!sources.problem.empty()) throw usage_problem{sources.problem};
    const app::selection_refusal refusal = app::read_selection(o, a.selection);
    if (refusal.status == app::usage_exit_status) throw usage_problem{refusal.message};
    if (refusal.status != 0) throw archive_failure{refusal.message, refusal.path, 0, 0, "", 0};
    a.catalogue_source = app::open_archive_file(a.files.catalogue, engine::catalogue_unit, sources.catalogue.path,
                                                engine::catalogue_header_lines);
    if (with_data)
        a.observations_source = app::open_archive_file(a.files.observations, engine::observations_unit,
                                                       sources.data.path, engine::observations_header_lines);
    engine::load_station_catalogue(a.selection, a.files.catalogue, a.table);
}

// ---- NumPy arrays and their owners

// A vector handed to NumPy without a copy: the array owns it.
template <class T>
py::array_t<T> array_of(std::vector<T>&& values, std::vector<py::ssize_t> shape) {
    auto* owned = new std::vector<T>(std::move(values));
    const py::capsule owner(owned, [](void* p) { delete static_cast<std::vector<T>*>(p); });
    return py::array_t<T>(shape, owned->data(), owner);
}

template <class T>
py::array_t<T> array_of(std::vector<T>&& values) {
    const auto size = static_cast<py::ssize_t>(values.size());
    return array_of(std::move(values), {size});
}

// The saved stations as the netCDF file holds them: their coordinates, and their series
// one after the other in one buffer, as it fills a (station, time) array. Filled on the
// engine's calling thread, without the GIL.
class series_arrays : public engine::station_sink {
public:
    series_arrays(std::int32_t fyod, std::int32_t lyod)
        : fyod_(fyod), lyod_(lyod), months_(static_cast<std::size_t>(engine::potential_months(fyod, lyod))) {}
    // At most every station of the table is saved: the buffer is reserved once and never
    // moves, and the pages of stations not saved are never touched.
    void table_loaded(std::int32_t qualifying_count) override {
        const auto most = static_cast<std::size_t>(qualifying_count);
        values.reserve(most * months_);
        id.reserve(most);
        lat.reserve(most);
        lon.reserve(most);
        extra.reserve(most);
    }
    void station(const engine::station_row& row, const engine::station_verdict& verdict,
                 const engine::year_month_grid& grid) override {
        if (verdict.kind != engine::verdict_kind::saved) return;
        const engine::station_series s = engine::series_of(row, fyod_, lyod_, grid);
        values.insert(values.end(), &s.rows[0][0], &s.rows[0][0] + months_);
        id.push_back(s.id);
        lat.push_back(s.lat);
        lon.push_back(s.lon);
        extra.push_back(s.extra);
        distance.push_back(s.distance_km);
        extent.widen(s.lat, s.lon);
    }
    std::size_t months() const { return months_; }

    std::vector<std::int32_t> id;
    std::vector<float> lat, lon, extra;
    std::vector<double> distance;
    std::vector<float> values;
    engine::station_extent extent;

private:
    std::int32_t fyod_, lyod_;
    std::size_t months_;
};

// The report's columns, one row per station examined.
class report_columns : public engine::station_sink {
public:
    void station(const engine::station_row& row, const engine::station_verdict& verdict,
                 const engine::year_month_grid&) override {
        const bool in_catalogue = verdict.kind != engine::verdict_kind::not_in_catalogue;
        constexpr double none = std::numeric_limits<double>::quiet_NaN();
        id.push_back(row.id);
        lon.push_back(in_catalogue ? row.lon : none);
        lat.push_back(in_catalogue ? row.lat : none);
        verdict_words.push_back(engine::verdict_word(verdict.kind));
        details.push_back(engine::verdict_detail(row, verdict));
        distance.push_back(in_catalogue ? row.distance_km : none);
    }

    std::vector<std::int64_t> id;
    std::vector<double> lon, lat, distance;
    std::vector<const char*> verdict_words;
    std::vector<std::string> details;
};

// ---- The Dataset from the file's layout

py::object attribute_value(const engine::netcdf_attribute& a) {
    const py::module_ np = py::module_::import("numpy");
    // Numbers as the netCDF library gives them back: one value as a scalar of its type.
    const auto numbers = [&](const auto& values, const char* type) -> py::object {
        using T = typename std::decay_t<decltype(values)>::value_type;
        if (values.size() == 1) return np.attr(type)(values[0]);
        return py::array_t<T>(static_cast<py::ssize_t>(values.size()), values.data());
    };
    if (const auto* t = std::get_if<std::string>(&a.value)) return py::str(*t);
    if (const auto* i = std::get_if<std::vector<std::int32_t>>(&a.value)) return numbers(*i, "int32");
    if (const auto* f = std::get_if<std::vector<float>>(&a.value)) return numbers(*f, "float32");
    return numbers(std::get<std::vector<double>>(a.value), "float64");
}

py::dict attributes_of(const std::vector<engine::netcdf_attribute>& list) {
    py::dict attributes;
    // The history names a command line and its time: a call has neither.
    for (const engine::netcdf_attribute& a : list)
        if (a.name != "history") attributes[py::str(a.name)] = attribute_value(a);
    return attributes;
}

// The arrays of the layout's variables, in its order: the station variables, the time axis
// and its bounds, the series.
std::vector<py::object> variable_data(series_arrays& s, engine::time_axis& axis, bool has_near) {
    const auto stations = static_cast<py::ssize_t>(s.id.size());
    const auto months = static_cast<py::ssize_t>(s.months());
    std::vector<py::object> data = {array_of(std::move(s.id)), array_of(std::move(s.lat)), array_of(std::move(s.lon)),
                                    array_of(std::move(s.extra))};
    if (has_near) data.push_back(array_of(std::move(s.distance)));
    data.push_back(array_of(std::move(axis.time)));
    data.push_back(array_of(std::move(axis.bounds), {months, 2}));
    data.push_back(array_of(std::move(s.values), {stations, months}));
    return data;
}

// The variables as the file holds them, decoded by xarray as open_dataset decodes the file.
py::object dataset_of(const engine::netcdf_layout& layout, std::vector<py::object> data) {
    const py::module_ xr = py::module_::import("xarray");
    py::dict variables;
    for (std::size_t i = 0; i < layout.variables.size(); ++i) {
        const engine::netcdf_variable& v = layout.variables[i];
        py::tuple dims(v.dimensions.size());
        for (std::size_t d = 0; d < v.dimensions.size(); ++d) dims[d] = py::str(v.dimensions[d]);
        variables[py::str(v.name)] = py::make_tuple(dims, data[i], attributes_of(v.attributes));
    }
    const py::object encoded = xr.attr("Dataset")(variables, py::arg("attrs") = attributes_of(layout.attributes));
    py::object dataset = xr.attr("decode_cf")(encoded).attr("load")();
    py::set unlimited;
    for (const engine::netcdf_dimension& d : layout.dimensions)
        if (d.length == 0) unlimited.add(py::str(d.name));
    dataset.attr("encoding")["unlimited_dims"] = unlimited;
    return dataset;
}

// ---- The functions

py::object extract(const arguments& a) {
    const app::batch_options o = parsed_options(option_words(a), false);
    const engine::run_settings run = app::settings_of(o);
    series_arrays saved(run.fyod, run.lyod);
    engine::output_meta meta;
    run_engine([&] {
        opened_archive archive;
        open_and_select(o, archive, true);
        meta = app::meta_of(o, archive.selection, run, archive.catalogue_source, archive.observations_source);
        engine::extract_stations(run, std::move(archive.table), archive.files.observations, saved);
    });
    engine::netcdf_layout layout = engine::netcdf_layout_of(meta, "");
    if (!meta.selection.has_box && saved.extent.known()) {
        const engine::station_extent& e = saved.extent;
        for (engine::netcdf_attribute& x : engine::extent_attributes(e.min_lat, e.max_lat, e.min_lon, e.max_lon))
            layout.attributes.push_back(std::move(x));
    }
    engine::time_axis axis = engine::time_axis_of(run.fyod, run.lyod);
    return dataset_of(layout, variable_data(saved, axis, meta.selection.has_near));
}

// The columns of a header line, in its order.
std::vector<std::string> columns_of(std::string_view header) {
    std::vector<std::string> names;
    while (!header.empty() && header.back() == '\n') header.remove_suffix(1);
    for (std::size_t at = 0; at <= header.size();) {
        const std::size_t tab = std::min(header.find('\t', at), header.size());
        names.emplace_back(header.substr(at, tab - at));
        at = tab + 1;
    }
    return names;
}

py::object data_frame(const std::vector<std::string>& columns, std::vector<py::object> values) {
    py::dict frame;
    for (std::size_t i = 0; i < columns.size(); ++i) frame[py::str(columns[i])] = values[i];
    return py::module_::import("pandas").attr("DataFrame")(frame);
}

py::object report(const arguments& a) {
    const app::batch_options o = parsed_options(option_words(a), false);
    const engine::run_settings run = app::settings_of(o);
    report_columns r;
    run_engine([&] {
        opened_archive archive;
        open_and_select(o, archive, true);
        engine::extract_stations(run, std::move(archive.table), archive.files.observations, r);
    });
    py::list verdicts, details;
    for (const char* word : r.verdict_words) verdicts.append(py::str(word));
    for (const std::string& detail : r.details) details.append(py::str(detail));
    std::vector<py::object> values = {array_of(std::move(r.id)), array_of(std::move(r.lon)), array_of(std::move(r.lat)),
                                      verdicts, details};
    if (o.has_near) values.push_back(array_of(std::move(r.distance)));
    return data_frame(columns_of(o.has_near ? engine::report_header_with_distance : engine::report_header), values);
}

py::object stations(const arguments& a) {
    const app::batch_options o = parsed_options(option_words(a), true);
    engine::station_table table;
    run_engine([&] {
        opened_archive archive;
        open_and_select(o, archive, false);
        table = std::move(archive.table);
    });
    std::vector<py::object> values = {
        array_of(std::vector<std::int64_t>(table.station_id.begin(), table.station_id.end())),
        array_of(std::vector<double>(table.station_lon.begin(), table.station_lon.end())),
        array_of(std::vector<double>(table.station_lat.begin(), table.station_lat.end())),
        array_of(std::vector<double>(table.station_extra.begin(), table.station_extra.end()))};
    if (o.has_near) values.push_back(array_of(std::move(table.distance_km)));
    return data_frame(columns_of(o.has_near ? app::station_list_header_with_distance : app::station_list_header),
                      values);
}

constexpr const char* call_notes = R"(
The call holds no lock of Python's while the engine reads: other Python threads
run meanwhile, but calls of this module are made one at a time, a second waiting
for the first. Ctrl-C stops a call made from Python's main thread after the
chunk or station at hand, and raises KeyboardInterrupt; a call made from any
other thread cannot be interrupted, since Python handles signals only on its
main thread. The engine's threads follow OMP_NUM_THREADS, as the program's do.

Arguments the command line would refuse raise ValueError with its message; an
archive or file that cannot be read raises ArchiveError.)";

const std::string extract_doc =
    std::string(
        R"(extract(archive=".", *, lat=None, lon=None, years, max_missing=None, type="tave", stations=None, near=None, radius=None, nearest=None)

Extracts the monthly series of the stations that the selectors keep and that
cover the years, and returns them as the xarray.Dataset that
xarray.open_dataset gives for the file of varnex --netcdf with the same
options (without its history attribute): NaN for a missing month, datetime64
times with their bounds, and _FillValue, units and calendar in the encodings.

archive      directory of site_summary.txt and data.txt (or their .gz, .zst
             or .xz files)
lat          (MIN, MAX) latitudes
lon          (WEST, EAST) longitudes; WEST greater than EAST crosses the 180th
             meridian
years        (FIRST, LAST), or one year
max_missing  the most missing months a saved station may have, as a fraction
             of the span's months (default: no limit)
type         "tave", "tmax", "tmin" or "tave-raw"
stations     an iterable of station identifiers
near         a (LAT, LON) point for radius and nearest
radius       at most this many km from the point
nearest      the N stations nearest the point that meet the other selectors

At least one selector (lat, lon, stations or near) is needed. See varnex(1).
)") +
    call_notes;

const std::string report_doc =
    std::string(
        R"(report(archive=".", *, lat=None, lon=None, years, max_missing=None, type="tave", stations=None, near=None, radius=None, nearest=None)

Examines the stations as extract() does and returns the report of varnex
--report as a pandas.DataFrame, one row per station examined, in the
catalogue's order, then one per listed identifier that the catalogue does not
have: station_id (int64), longitude and latitude (float64, NaN for an
identifier not in the catalogue), verdict and detail (str, an empty detail
being ""), and distance_km with a near point. The verdicts are saved,
no-records, span-not-covered, too-many-missing, implausible and
not-in-catalogue. The arguments are extract()'s.
)") +
    call_notes;

const std::string stations_doc =
    std::string(R"(stations(archive=".", *, lat=None, lon=None, stations=None, near=None, radius=None, nearest=None)

Returns the stations that the selectors keep, as varnex --list prints them,
as a pandas.DataFrame: station_id (int64), longitude, latitude and extra (the
catalogue's fourth value, float64), and distance_km with a near point. Only
the catalogue is read. The arguments are extract()'s selectors.
)") +
    call_notes;

}  // namespace
}  // namespace varnex_python

PYBIND11_MODULE(varnex, m) {
    using namespace varnex_python;
    m.doc() = "Monthly station temperature series from a station archive, as xarray and pandas objects.";
    m.attr("__version__") = VARNEX_VERSION;
    // Each docstring begins with the signature as Python writes it.
    py::options options;
    options.disable_function_signatures();
    // An OSError that reads as the program's message, whatever errno and filename hold.
    py::dict scope;
    scope["__builtins__"] = py::module_::import("builtins");
    py::exec(R"(
class ArchiveError(OSError):
    """An archive or file that cannot be read, in the program's words. filename,
line, field and text say where and what; line and field are 0, and text is
empty, where they do not apply."""
    __module__ = "varnex"

    def __str__(self):
        return self.args[0]
)",
             scope);
    archive_error = scope["ArchiveError"];
    m.attr("ArchiveError") = archive_error;
    // The engine's threads take no signals: Python's main thread does.
    util::start_thread_team();

    m.def(
        "extract",
        [](py::object archive, py::object lat, py::object lon, py::object years, py::object max_missing,
           py::object type, py::object ids, py::object near, py::object radius, py::object nearest) {
            return extract({archive, lat, lon, years, max_missing, type, ids, near, radius, nearest});
        },
        py::arg("archive") = ".", py::kw_only(), py::arg("lat") = py::none(), py::arg("lon") = py::none(),
        py::arg("years"), py::arg("max_missing") = py::none(), py::arg("type") = "tave",
        py::arg("stations") = py::none(), py::arg("near") = py::none(), py::arg("radius") = py::none(),
        py::arg("nearest") = py::none(), extract_doc.c_str());
    m.def(
        "report",
        [](py::object archive, py::object lat, py::object lon, py::object years, py::object max_missing,
           py::object type, py::object ids, py::object near, py::object radius, py::object nearest) {
            return report({archive, lat, lon, years, max_missing, type, ids, near, radius, nearest});
        },
        py::arg("archive") = ".", py::kw_only(), py::arg("lat") = py::none(), py::arg("lon") = py::none(),
        py::arg("years"), py::arg("max_missing") = py::none(), py::arg("type") = "tave",
        py::arg("stations") = py::none(), py::arg("near") = py::none(), py::arg("radius") = py::none(),
        py::arg("nearest") = py::none(), report_doc.c_str());
    m.def(
        "stations",
        [](py::object archive, py::object lat, py::object lon, py::object ids, py::object near, py::object radius,
           py::object nearest) {
            const py::object none = py::none();
            return stations({archive, lat, lon, none, none, none, ids, near, radius, nearest});
        },
        py::arg("archive") = ".", py::kw_only(), py::arg("lat") = py::none(), py::arg("lon") = py::none(),
        py::arg("stations") = py::none(), py::arg("near") = py::none(), py::arg("radius") = py::none(),
        py::arg("nearest") = py::none(), stations_doc.c_str());
}
