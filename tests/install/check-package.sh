#!/usr/bin/env bash
# check-package.sh SOURCE_DIR BUILD_DIR: builds the Debian package in BUILD_DIR as make package
# does (the release preset, with Debian's hardening flags), checks its control fields and
# contents, unpacks it into a scratch root and validates what a desktop reads, and fails on any
# tag lintian reports, down to the pedantic ones.
set -euo pipefail
source=$(cd "$1" && pwd)
mkdir -p "$2"
build=$(cd "$2" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$source" && cmake --preset release -B "$build" -DTESSARO_BUILD_TESTS=OFF -DTESSARO_BUILD_BENCH=OFF &&
  cmake --build "$build" --target tessaro tessaro-bot) > "$work/build.log" 2>&1 ||
  { cat "$work/build.log"; fail "the release build did not build"; }
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work" > "$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack did not build the package"; }
deb=$(ls "$work"/tessaro_*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || fail "no tessaro_*.deb was made"
echo "package: $(basename "$deb")"

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for lib in libc6 libqt6widgets6 libqt6gui6 libqt6core6 libstdc++6 libavahi-client3 libminiupnpc17 libnatpmp1; do
  grep -q "$lib" <<<"$depends" || fail "Depends lacks $lib (shlibdeps did not run?)"
done
[ "$(dpkg-deb -f "$deb" Section)" = games ] || fail "Section is not games"
dpkg-deb -f "$deb" Recommends | grep -qw qt6-translations-l10n || fail "Recommends lacks qt6-translations-l10n"
grep -qw avahi-daemon <<<"$(dpkg-deb -f "$deb" Recommends)" || fail "Recommends lacks avahi-daemon"

contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for f in ./usr/games/tessaro \
         ./usr/games/tessaro-bot \
         ./usr/share/applications/tessaro.desktop \
         ./usr/share/metainfo/io.github.tessaro.tessaro.metainfo.xml \
         ./usr/share/icons/hicolor/scalable/apps/tessaro.svg \
         ./usr/share/icons/hicolor/16x16/apps/tessaro.png \
         ./usr/share/icons/hicolor/48x48/apps/tessaro.png \
         ./usr/share/icons/hicolor/256x256/apps/tessaro.png \
         ./usr/share/man/man6/tessaro.6.gz \
         ./usr/share/man/man6/tessaro-bot.6.gz \
         ./usr/share/man/fr/man6/tessaro.6.gz \
         ./usr/share/man/fr/man6/tessaro-bot.6.gz \
         ./usr/share/doc/tessaro/copyright \
         ./usr/share/doc/tessaro/changelog.gz; do
  grep -qx "$f" <<<"$contents" || fail "the package lacks $f"
done
if [ -f "$(dirname "$0")/../../data/opening-book.bin" ]; then
  grep -qx ./usr/share/games/tessaro/opening-book.bin <<<"$contents" || fail "the package lacks the opening book"
fi

root="$work/root"
dpkg-deb -x "$deb" "$root"
desktop-file-validate "$root/usr/share/applications/tessaro.desktop" || fail "desktop entry is not valid"
appstreamcli validate --pedantic --no-net "$root/usr/share/metainfo/io.github.tessaro.tessaro.metainfo.xml" \
  > "$work/appstream.log" 2>&1 || true
cat "$work/appstream.log"
grep -qx '✔ Validation was successful.' "$work/appstream.log" || fail "appstreamcli reports issues in the metainfo"
exec=$(sed -n 's/^Exec=//p' "$root/usr/share/applications/tessaro.desktop")
[ -x "$root$exec" ] || fail "the desktop entry starts $exec, which the package does not hold"
for program in tessaro tessaro-bot; do
  file "$root/usr/games/$program" | grep -q ELF || fail "$program is not an executable"
done
"$root/usr/games/tessaro-bot" --analyse 112233 | grep -Eqx -- '-?[0-9]+:( (-?[0-9]+|\.)){7}' ||
  fail "the installed tessaro-bot does not run"
if command -v man > /dev/null; then
  for page in man6/tessaro.6.gz man6/tessaro-bot.6.gz fr/man6/tessaro.6.gz fr/man6/tessaro-bot.6.gz; do
    warnings=$(MANWIDTH=80 man --warnings -l "$root/usr/share/man/$page" 2>&1 > /dev/null) || fail "$page does not format"
    [ -z "$warnings" ] || fail "$page: $warnings"
  done
fi
lintian --pedantic --display-info --show-overrides --tag-display-limit 0 "$deb" > "$work/lintian.log" 2>&1 || true
cat "$work/lintian.log"  # overridden tags show as O: lines, each with its reason
! grep -Eq '^[EWIPX]: ' "$work/lintian.log" || fail "lintian reports tags"
echo "package checks passed"
