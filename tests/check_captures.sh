#!/bin/sh
# vekrun's captures as their readers read them: each CSV piece alone by
# Python's csv reader (a PerfMon header, then rows as wide as it), each JSON
# piece line by line by Python's json; and its Prometheus text by promtool
# (which must parse it; of its style remarks only the "_count" of
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
pieces() {
    form=$1
    shift
    rm -f "$folder"/up-*
    "$wine" "$vekrun" --every 0.05 --samples 3 --"$form" --output "$into\\up.$form" --rotate 1 "$@" >/dev/null 2>&1 ||
        { echo "vekrun --output up.$form failed"; status=1; return; }
    /usr/bin/python3 -c 'import csv, json, sys
files = sys.argv[2:]
assert len(files) == 3, files
for name in files:
    if sys.argv[1] == "csv":
        rows = list(csv.reader(open(name, newline="", encoding="utf-8")))
        assert rows[0][0].startswith("(PDH-CSV 4.0)") or rows[0][0] == "Time", (name, rows[0])
        assert len(rows) >= 2 and all(len(row) == len(rows[0]) for row in rows), (name, rows)
    else:
        lines = [json.loads(line) for line in open(name, encoding="utf-8")]
        assert len(lines) == 1 and "time" in lines[0], (name, lines)' "$form" "$folder"/up-* ||
        { echo "a piece of --output up.$form does not read alone"; status=1; }
}
pieces csv tGetData '\System\System Up Time' 0
pieces csv --procs --fields ProcessId,Name,CommandLine
pieces json tGetProcInfo '$PID'
check --procs
check tGetData '\System\System Up Time' 0
check tGetProcInfo '$PID'
check tCountProc
exit $status
