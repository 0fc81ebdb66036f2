#!/usr/bin/env bash
# check-package.sh BUILD_DIR: builds the Debian package from BUILD_DIR, checks its control
# fields and contents, unpacks it into a scratch root and validates what a desktop reads.
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work" > "$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack did not build the package"; }
deb=$(ls "$work"/tessaro_*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || fail "no tessaro_*.deb was made"
echo "package: $(basename "$deb")"

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for lib in libc6 libqt6widgets6 libqt6gui6 libqt6core6 libstdc++6; do
  grep -q "$lib" <<<"$depends" || fail "Depends lacks $lib (shlibdeps did not run?)"
done
[ "$(dpkg-deb -f "$deb" Section)" = games ] || fail "Section is not games"

contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for f in ./usr/bin/tessaro \
         ./usr/share/applications/tessaro.desktop \
         ./usr/share/metainfo/io.github.tessaro.Tessaro.metainfo.xml \
         ./usr/share/icons/hicolor/scalable/apps/tessaro.svg \
         ./usr/share/icons/hicolor/16x16/apps/tessaro.png \
         ./usr/share/icons/hicolor/48x48/apps/tessaro.png \
         ./usr/share/icons/hicolor/256x256/apps/tessaro.png \
         ./usr/share/man/man6/tessaro.6 \
         ./usr/share/man/fr/man6/tessaro.6; do
  grep -qx "$f" <<<"$contents" || fail "the package lacks $f"
done

root="$work/root"
dpkg-deb -x "$deb" "$root"
desktop-file-validate "$root/usr/share/applications/tessaro.desktop" || fail "desktop entry is not valid"
appstreamcli validate --no-net "$root/usr/share/metainfo/io.github.tessaro.Tessaro.metainfo.xml" ||
  fail "metainfo is not valid"
file "$root/usr/bin/tessaro" | grep -q ELF || fail "the program is not an executable"
if command -v man > /dev/null; then
  for page in man6/tessaro.6 fr/man6/tessaro.6; do
    warnings=$(MANWIDTH=80 man --warnings -l "$root/usr/share/man/$page" 2>&1 > /dev/null) || fail "$page does not format"
    [ -z "$warnings" ] || fail "$page: $warnings"
  done
fi
echo "package checks passed"
