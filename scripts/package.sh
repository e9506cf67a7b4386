#!/usr/bin/env bash
# Makes the two Windows packages, dist/Kestrune-<version>-win64.zip and
# dist/Kestrune-<version>-win32.zip, each holding one folder Kestrune-<version>-<kind>/ with:
#   Kestrune.exe           the program (needs no other DLL)
#   kestrune-ctl.exe       the command-line controlling program
#   dsp_gain.dll           a test DSP plug-in (lowers the sound by 6 dB)
#   Kestrune.sample.ini    every setting with its default and a comment
#   docs/user-guide.md, docs/protocol.md and the user guide's pictures
# The version is read from the version resource of the built Kestrune.exe. Builds what is
# missing with the win64 and win32 presets (an up-to-date build is reused). Prints the paths of
# the two files.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/install-deps.sh >/dev/null
for preset in win64 win32; do
  nice -n 10 cmake --preset "$preset" >/dev/null
  nice -n 10 cmake --build --preset "$preset" --target Kestrune kestrune-ctl dsp_gain >/dev/null
done

version=$(python3 scripts/lib/exe-version.py build/win64/Kestrune.exe)
other=$(python3 scripts/lib/exe-version.py build/win32/Kestrune.exe)
if [ "$version" != "$other" ]; then
  echo "the win64 build is version $version, the win32 build $other: build both from one tree" >&2
  exit 1
fi

# The pictures the user guide shows.
pictures=$(grep -o '([a-z0-9-]*\.png)' docs/user-guide.md | tr -d '()' | sort -u)
# Every file gets the time of the last commit, so the same tree gives the same archive.
stamp=$(git log -1 --format=%ct 2>/dev/null || date +%s)

mkdir -p dist
for kind in win64 win32; do
  name="Kestrune-$version-$kind"
  stage="$root/build/package/$name"
  rm -rf "$root/build/package" "dist/$name.zip"
  mkdir -p "$stage/docs"
  cp "build/$kind/Kestrune.exe" "build/$kind/tools/ctl/kestrune-ctl.exe" \
    "build/$kind/tools/plugins/dsp_gain.dll" "$stage/"
  # Windows line ends, so that any editor shows the comments as lines.
  sed 's/$/\r/' scripts/package/Kestrune.sample.ini >"$stage/Kestrune.sample.ini"
  cp docs/user-guide.md docs/protocol.md "$stage/docs/"
  for p in $pictures; do cp "docs/$p" "$stage/docs/"; done
  find "$stage" -exec touch -h -d "@$stamp" {} +
  (cd "$root/build/package" && find "$name" -type f | LC_ALL=C sort | zip -q -X -9 "$root/dist/$name.zip" -@)
  echo "dist/$name.zip"
done
rm -rf "$root/build/package"
