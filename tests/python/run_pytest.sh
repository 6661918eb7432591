#!/usr/bin/env bash
# Runs the Python module's tests with Debian's python3 and pytest.
# Usage: bash run_pytest.sh MODULE_DIR TEST_DIR [pytest arguments]; MODULE_DIR - when it was not built.
# Exits 77 (skipped) when the module was not built or pytest is missing, unless CI=true,
# where that is a failure.
set -u
module_dir=$1
test_dir=$2
shift 2
missing=""
[ "$module_dir" != - ] || missing="the module (pybind11-dev, python3-dev)"
/usr/bin/python3 -c 'import pytest' 2>/dev/null || missing="$missing python3-pytest"
if [ -n "$missing" ]; then
    if [ "${CI:-}" = true ]; then
        echo "FAIL: missing $missing (needed under CI=true)"
        exit 1
    fi
    echo "missing $missing: the Python tests are skipped"
    exit 77
fi
cd "$test_dir" && PYTHONPATH="$module_dir" exec /usr/bin/python3 -m pytest -q -p no:cacheprovider "$@"
