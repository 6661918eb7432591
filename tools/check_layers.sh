#!/usr/bin/env bash
# Fails when a source includes a header of a layer above its own. The layers, lowest
# first: textio, util, engine, app, python (the Python module); each may include its own
# layer and those below.
set -euo pipefail
cd "$(dirname "$0")/.."

rank() {
    case "$1" in
        textio) echo 0 ;;
        util) echo 1 ;;
        engine) echo 2 ;;
        app) echo 3 ;;
        python) echo 4 ;;
        *) echo -1 ;;
    esac
}

status=0
for layer in textio util engine app python; do
    own=$(rank "$layer")
    while IFS= read -r hit; do
        file=${hit%%:*}
        included=$(sed -E 's/.*#include "([a-z_]+)\/.*/\1/' <<<"$hit")
        theirs=$(rank "$included")
        if [ "$theirs" -gt "$own" ]; then
            echo "layer violation: $file includes $included/ (${hit#*:})"
            status=1
        fi
    done < <(grep -rHn --include='*.cpp' --include='*.hpp' -E '^[[:space:]]*#[[:space:]]*include "[a-z_]+/' "$layer" || true)
done
[ "$status" -eq 0 ] && echo "layers: every include points down (textio <- util <- engine <- app <- python)"
exit "$status"
