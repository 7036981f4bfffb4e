#!/bin/sh
# Builds the Debian package from a build folder, lists its contents, checks
# its dependencies, runs the packaged query program, validates its AppStream
# metadata with the files beside it and runs lintian.
#   check_package.sh BUILD_DIR
# Exits 77 (skipped) when a packaging tool is missing.
set -eu
build=$1

for tool in cpack dpkg-deb dpkg-shlibdeps lintian appstreamcli; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "SKIPPED: $tool is not installed (scripts/setup installs it)"
    exit 77
  fi
done

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT INT TERM
fail() { echo "FAILED: $*"; exit 1; }

if ! cpack --config "$build/CPackConfig.cmake" -G DEB -B "$out" >"$out/cpack.log" 2>&1; then
  cat "$out/cpack.log"
  fail "cpack"
fi
deb="$out/sorvanta_1.0.0.1_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || { ls "$out"; fail "no $deb"; }

echo "== dpkg-deb -c"
dpkg-deb -c "$deb"
files=$(dpkg-deb -c "$deb" | awk '{print $6}')
for f in ./usr/bin/sorvanta ./usr/bin/sorvanta-query \
         ./usr/share/applications/invalid.example.sorvanta.desktop \
         ./usr/share/metainfo/invalid.example.sorvanta.metainfo.xml \
         ./usr/share/icons/hicolor/32x32/apps/sorvanta.png \
         ./usr/share/icons/hicolor/scalable/apps/sorvanta.svg \
         ./usr/share/man/man1/sorvanta.1.gz ./usr/share/man/man1/sorvanta-query.1.gz \
         ./usr/share/bash-completion/completions/sorvanta-query \
         ./usr/share/doc/sorvanta/copyright ./usr/share/doc/sorvanta/changelog.gz; do
  echo "$files" | grep -qxF "$f" || fail "the package lacks $f"
done

echo "== Depends"
depends=$(dpkg-deb -f "$deb" Depends)
echo "$depends"
# From dpkg-shlibdeps: the C library, Qt's widgets (the window) and the C++
# library; and the font alternative.
for dep in "libc6 (>=" "libqt6widgets6" "libstdc++6 (>=" "fonts-wqy-microhei | fonts-noto-cjk"; do
  echo "$depends" | grep -qF "$dep" || fail "Depends lacks $dep"
done

[ "$(dpkg-deb -f "$deb" Recommends)" = "qt6-translations-l10n" ] || fail "Recommends lacks Qt's translations"

echo "== the packaged sorvanta-query"
dpkg-deb -x "$deb" "$out/root"
version=$("$out/root/usr/bin/sorvanta-query" --version)
[ "$version" = "sorvanta-query 1.0.0.1" ] || fail "the packaged program says '$version'"
echo "$version"

echo "== appstreamcli validate-tree"
# The metadata as installed, with the desktop entry its launchable names.
appstreamcli validate-tree --no-net "$out/root" || fail "the installed AppStream metadata is not valid"

echo "== lintian"
lintian --fail-on error "$deb" || fail "lintian reports errors"
echo "lintian: no errors"
