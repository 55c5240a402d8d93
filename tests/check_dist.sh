#!/bin/sh
# The release archive works on its own: unpacked into a fresh folder of the
# Wine prefix, with nothing else beside it, vekrun loads the extender.
zip=$1 wine=$2
[ -f "$zip" ] || { echo "no archive at $zip (make dist builds it)"; exit 1; }
[ -n "$WINEPREFIX" ] || { echo "WINEPREFIX is not set"; exit 1; }
folder=$WINEPREFIX/drive_c/vekdist-$$
rm -rf "$folder" && mkdir -p "$folder" || exit 1
trap 'rm -rf "$folder"' EXIT
unzip -q "$zip" -d "$folder" || exit 1
cd "$folder/vekproc-44017-win64" || exit 1
sha256sum -c --quiet SHA256SUMS || { echo "SHA256SUMS does not match"; exit 1; }
for f in vekproc.dll vekrun.exe keywords.md README.md SHA256SUMS; do
  [ -f "$f" ] || { echo "missing $f"; exit 1; }
done
[ "$(ls | wc -l)" = 5 ] || { echo "unexpected files: $(ls)"; exit 1; }
version=$("$wine" 'C:\vekdist-'$$'\vekproc-44017-win64\vekrun.exe' tVersion | tr -d '\r')
[ "$version" = 44017 ] || { echo "vekrun tVersion gave '$version'"; exit 1; }
rows=$("$wine" 'C:\vekdist-'$$'\vekproc-44017-win64\vekrun.exe' --keywords | grep -c 'function\|constant')
[ "$rows" = 19 ] || { echo "vekrun --keywords listed $rows keywords"; exit 1; }
echo "the archive runs on its own"
