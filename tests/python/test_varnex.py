"""The Python module against the program: its Dataset against xarray's reading of the
--netcdf file, its report against pandas' reading of --report, its exceptions against the
program's messages, and its behaviour under Ctrl-C and two threads."""
import os
import signal
import subprocess
import threading
import time

import pytest

try:
    import numpy as np
    import pandas as pd
    import xarray as xr

    import varnex
except ImportError as missing:
    if os.environ.get("CI") == "true":
        raise
    pytest.skip(f"{missing}: the Python module's tests are skipped", allow_module_level=True)

VARNEX = os.environ["VARNEX_BINARY"]
ARCHIVE_TOOL = os.environ["VARNEX_ARCHIVE_TOOL"]

# Archives by name: the generator's options.
ARCHIVES = {
    "plain": ["--stations", "300", "--seed", "3"],
    "rough": ["--stations", "400", "--seed", "5", "--missing", "0.1", "--gaps", "--spurious", "0.05",
              "--absent", "20", "--shuffle-blocks", "--big-ids"],
    "dateline": ["--stations", "200", "--seed", "7", "--dateline"],
    "large": ["--stations", "3000", "--seed", "11"],
}


@pytest.fixture(scope="session")
def archives(tmp_path_factory):
    made = {}

    def archive(name):
        if name not in made:
            out = tmp_path_factory.mktemp(name)
            subprocess.run([ARCHIVE_TOOL, "--out", str(out), *ARCHIVES[name]], check=True, capture_output=True)
            made[name] = str(out)
        return made[name]

    return archive


def run_program(*words):
    return subprocess.run([VARNEX, *words], capture_output=True, text=True)


# (archive, the command line's words, the same as keyword arguments)
SELECTIONS = [
    ("plain", ["--lat", "-30,60", "--lon", "-100,100", "--years", "1950-1990"],
     dict(lat=(-30, 60), lon=(-100, 100), years=(1950, 1990))),
    ("rough", ["--lat", "-90,90", "--years", "1930-2000", "--max-missing", "0.12"],
     dict(lat=(-90, 90), years=(1930, 2000), max_missing=0.12)),
    ("rough", ["--lon", "-180,180", "--years", "1970", "--type", "tmax"],
     dict(lon=(-180, 180), years=1970, type="tmax")),
    ("dateline", ["--lon", "170.5,-170", "--years", "1960-1980", "--type", "tave-raw"],
     dict(lon=(170.5, -170), years=(1960, 1980), type="tave-raw")),
    ("plain", ["--near", "45,10.25", "--radius", "4000", "--nearest", "7", "--years", "1940-2000"],
     dict(near=(45, 10.25), radius=4000, nearest=7, years=(1940, 2000))),
    ("plain", ["--lat", "89.9,90", "--years", "1950-1951"], dict(lat=(89.9, 90), years=(1950, 1951))),
]
CASE_NAMES = ["box", "fraction", "tmax_one_year", "dateline", "near", "empty"]


def station_ids(archive, count, absent=()):
    """The first `count` identifiers of the catalogue, and identifiers it does not have."""
    listed = varnex.stations(archive, lat=(-90, 90))["station_id"].tolist()[:count]
    return [*listed, *absent]


@pytest.mark.parametrize("name, words, kwargs", SELECTIONS, ids=CASE_NAMES)
def test_dataset_is_the_netcdf_file(archives, tmp_path, name, words, kwargs):
    archive = archives(name)
    nc = tmp_path / "out.nc"
    run = run_program(*words, "-C", archive, "--no-tsf", "-q", "--netcdf", str(nc))
    assert run.returncode == 0, run.stderr
    with xr.open_dataset(nc) as expected:
        expected.load()
    got = varnex.extract(archive, **kwargs)
    del expected.attrs["history"]
    xr.testing.assert_identical(got, expected)
    for variable in expected.variables:
        for key in ("_FillValue", "units", "calendar"):
            if key in expected[variable].encoding:
                assert got[variable].encoding[key] == expected[variable].encoding[key], (variable, key)
                assert type(got[variable].encoding[key]) == type(expected[variable].encoding[key]), (variable, key)


def test_a_list_without_box_gives_the_extent_of_the_saved_stations(archives, tmp_path):
    archive = archives("rough")
    ids = station_ids(archive, 40, absent=[7, 8])
    nc = tmp_path / "out.nc"
    words = ["--stations", ",".join(map(str, ids)), "--years", "1950-1990"]
    assert run_program(*words, "-C", archive, "--no-tsf", "-q", "--netcdf", str(nc)).returncode == 0
    with xr.open_dataset(nc) as expected:
        expected.load()
    del expected.attrs["history"]
    xr.testing.assert_identical(varnex.extract(archive, stations=iter(ids), years=(1950, 1990)), expected)


def read_report(path):
    table = pd.read_csv(path, sep="\t", keep_default_na=False)
    for column in ("longitude", "latitude", "distance_km"):
        if column in table:
            table[column] = pd.to_numeric(table[column].replace("", np.nan))
    return table


@pytest.mark.parametrize("kwargs, words", [
    (dict(lat=(-60, 60), years=(1930, 2000), max_missing=0.11), ["--lat", "-60,60", "--years", "1930-2000",
                                                                  "--max-missing", "0.11"]),
    (dict(near=(-20, 30), nearest=25, years=(1950, 1960)), ["--near", "-20,30", "--nearest", "25",
                                                             "--years", "1950-1960"]),
], ids=["box", "near"])
def test_report_is_the_report_file(archives, tmp_path, kwargs, words):
    archive = archives("rough")
    path = tmp_path / "report.tsv"
    assert run_program(*words, "-C", archive, "--no-tsf", "-q", "--report", str(path)).returncode == 0
    check_report(varnex.report(archive, **kwargs), read_report(path))


def test_report_names_identifiers_not_in_the_catalogue(archives, tmp_path):
    archive = archives("rough")
    ids = station_ids(archive, 30, absent=[5, 6])
    path = tmp_path / "report.tsv"
    words = ["--stations", ",".join(map(str, ids)), "--years", "1950-1990", "--report", str(path)]
    assert run_program(*words, "-C", archive, "--no-tsf", "-q").returncode == 0
    got = varnex.report(archive, stations=ids, years=(1950, 1990))
    assert (got["verdict"] == "not-in-catalogue").sum() == 2
    check_report(got, read_report(path))


def check_report(got, expected):
    assert list(got.columns) == list(expected.columns)
    assert got["station_id"].dtype == np.int64 and got["longitude"].dtype == np.float64
    assert got["station_id"].tolist() == expected["station_id"].tolist()
    assert got["verdict"].tolist() == expected["verdict"].tolist()
    assert got["detail"].tolist() == expected["detail"].tolist()
    assert all(isinstance(d, str) for d in got["detail"])
    # The report prints coordinates to six significant digits, distances to three decimals.
    for column, printed in (("longitude", "{:.6g}"), ("latitude", "{:.6g}"), ("distance_km", "{:.3f}")):
        if column in got:
            shown = [float(printed.format(v)) for v in got[column]]
            np.testing.assert_array_equal(shown, expected[column].to_numpy(), err_msg=column)


def test_stations_is_the_list(archives):
    archive = archives("plain")
    run = run_program("--near", "10,20", "--nearest", "12", "--list", "-C", archive)
    expected = pd.read_csv(pd.io.common.StringIO(run.stdout), sep="\t")
    got = varnex.stations(archive, near=(10, 20), nearest=12)
    assert list(got.columns) == list(expected.columns)
    assert got["station_id"].tolist() == expected["station_id"].tolist()
    np.testing.assert_allclose(got["extra"], expected["extra"], rtol=1e-6)


# Arguments the program refuses, as keyword arguments and as its words.
REFUSED = [
    (dict(lat=(40, 60, 3), years=1950), ["--lat", "40,60,3", "--years", "1950"]),
    (dict(lat=(40, 60), years=(2000, 1950)), ["--lat", "40,60", "--years", "2000-1950"]),
    (dict(lat=(40, 60), years=1950, max_missing=1.5), ["--lat", "40,60", "--years", "1950", "--max-missing", "1.5"]),
    (dict(lat=(40, 60), years=1950, type="tavg"), ["--lat", "40,60", "--years", "1950", "--type", "tavg"]),
    (dict(years=1950), ["--years", "1950"]),
    (dict(lat=(-10, 10), radius=5, years=1950), ["--lat=-10,10", "--radius", "5", "--years", "1950"]),
    (dict(near=(95, 0), years=1950), ["--near", "95,0", "--years", "1950"]),
]


@pytest.mark.parametrize("kwargs, words", REFUSED)
def test_refused_arguments_raise_the_programs_message(kwargs, words):
    run = run_program(*words)
    assert run.returncode == 2
    message = run.stderr.splitlines()[0].removeprefix("varnex: ")
    with pytest.raises(ValueError) as raised:
        varnex.extract(".", **kwargs)
    assert str(raised.value) == message


def test_archive_errors_carry_the_failure_record(archives, tmp_path):
    missing = tmp_path / "nowhere"
    with pytest.raises(varnex.ArchiveError) as raised:
        varnex.extract(missing, lat=(0, 10), years=1950)
    e = raised.value
    assert isinstance(e, OSError)
    assert (e.filename, e.line, e.field, e.text) == (str(missing / "site_summary.txt"), 0, 0, "")
    assert str(e) == run_program("-C", str(missing), "--lat", "0,10", "--years", "1950").stderr.splitlines()[0][8:]

    broken = tmp_path / "broken"
    broken.mkdir()
    source = archives("plain")
    os.symlink(os.path.join(source, "site_summary.txt"), broken / "site_summary.txt")
    with open(os.path.join(source, "data.txt")) as f:
        lines = f.readlines()
    fields = lines[399].split("\t")
    fields[3] = "1x.5"
    lines[399] = "\t".join(fields)
    (broken / "data.txt").write_text("".join(lines))
    with pytest.raises(varnex.ArchiveError) as raised:
        varnex.extract(broken, lat=(-90, 90), years=(1950, 1960))
    e = raised.value
    assert (e.filename, e.line, e.field, e.text) == (str(broken / "data.txt"), 400, 4, "1x.5")
    program = run_program("-C", str(broken), "--lat", "-90,90", "--years", "1950-1960", "--no-tsf")
    assert "varnex: " + str(e) in program.stderr.splitlines()


def open_descriptors():
    return sorted(os.listdir("/proc/self/fd"))


def test_ctrl_c_stops_the_call_and_raises_keyboard_interrupt(archives):
    archive = archives("large")
    whole = varnex.extract(archive, lat=(-90, 90), years=(1900, 2010))
    started = time.monotonic()
    varnex.extract(archive, lat=(-90, 90), years=(1900, 2010))
    took = time.monotonic() - started
    threads = len(os.listdir("/proc/self/task"))
    descriptors = open_descriptors()
    timer = threading.Timer(took / 10, signal.raise_signal, [signal.SIGINT])
    started = time.monotonic()
    timer.start()
    with pytest.raises(KeyboardInterrupt):
        varnex.extract(archive, lat=(-90, 90), years=(1900, 2010))
    # Raised inside the call, not after it ran to its end.
    assert time.monotonic() - started < took / 2
    timer.join()
    assert len(os.listdir("/proc/self/task")) == threads
    assert open_descriptors() == descriptors
    # The next call is not stopped by the last one's signal.
    xr.testing.assert_identical(varnex.extract(archive, lat=(-90, 90), years=(1900, 2010)), whole)


def test_two_threads_call_at_once_and_both_succeed(archives):
    archive = archives("rough")
    alone = varnex.extract(archive, lat=(-90, 90), years=(1920, 2000))
    results = [None, None]

    def call(k):
        results[k] = varnex.extract(archive, lat=(-90, 90), years=(1920, 2000))

    threads = [threading.Thread(target=call, args=(k,)) for k in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for result in results:
        xr.testing.assert_identical(result, alone)


def test_every_function_documents_its_signature():
    for function in (varnex.extract, varnex.report, varnex.stations):
        assert function.__doc__.startswith(function.__name__ + "(archive=")


def test_the_readmes_python_lines_run_on_the_sample():
    source = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
    with open(os.path.join(source, "README.md")) as f:
        section = f.read().split("## From Python\n")[1].split("\n## ")[0]
    lines = section.split("```python\n")[1].split("```")[0]
    run = subprocess.run(["/usr/bin/python3", "-c", lines], cwd=source, capture_output=True, text=True,
                         env={**os.environ, "MPLBACKEND": "Agg"})
    assert run.returncode == 0, run.stderr
    assert "span-not-covered" in run.stdout
