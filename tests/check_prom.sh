#!/bin/sh
# vekrun's Prometheus text as Prometheus's own tools read it: promtool's
# check (which must parse it; of its style remarks only the "_count" of
# windows_exporter's thread_count and of Windows' own PageFaultCount are
# borne) and the Python client's parser, on the files --output replaces.
wine=$1 vekrun=$2
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
into=$("$wine" winepath -w "$folder" 2>/dev/null)
status=0
check() {
    file="$folder/one.prom"
    rm -f "$file"
    "$wine" "$vekrun" --every 0.05 --samples 2 --prom --output "$into\\one.prom" "$@" >/dev/null 2>&1 ||
        { echo "vekrun --prom $* failed"; status=1; return; }
    remarks=$(promtool check metrics < "$file" 2>&1)
    rc=$?
    if [ $rc -ne 0 ] && { [ $rc -ne 3 ] || echo "$remarks" | grep -v 'should not have "_count" suffix' | grep -q .; }; then
        echo "promtool on --prom $* ($rc):"; echo "$remarks"; status=1
    fi
    /usr/bin/python3 -c 'import sys
from prometheus_client.parser import text_string_to_metric_families as parse
families = list(parse(open(sys.argv[1]).read()))
assert families and all(f.samples for f in families), "no samples"' "$file" ||
        { echo "the Python client cannot read --prom $*"; status=1; }
}
check --procs
check tGetData '\System\System Up Time' 0
check tGetProcInfo '$PID'
check tCountProc
exit $status
