#!/usr/bin/env bash
# Builds the Debian package, unpacks it into a scratch root and checks that
# the installed tree works on its own: the installed okt-render finds the
# installed emulator library by name and draws the demo as the build tree's
# does; lintian finds no error; the desktop entry, AppStream data and manual
# pages are sound.
#   installed_tree_test.sh CPACK BUILD_DIR BUILT_OKT_RENDER BUILT_EMULATOR_LIBRARY
set -euo pipefail
cpack=$1 build=$2 built_render=$3 built_library=$4
work=$build/package-test
rm -rf "$work"
mkdir -p "$work"
fail() { echo "FAIL: $*"; exit 1; }

"$cpack" --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack"; }
debs=("$work"/okt-client_*.deb)
[ -f "${debs[0]}" ] || fail "no okt-client_*.deb"
deb=${debs[0]}
echo "package: $(basename "$deb"), $(stat -c %s "$deb") bytes"
dpkg-deb --info "$deb" | grep -E "^ (Package|Version|Architecture|Depends|Section):"
root=$work/root
dpkg-deb -x "$deb" "$root"

multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
for f in usr/bin/okt-client usr/bin/okt-render usr/bin/okt-decode usr/bin/okt-icons \
         "usr/lib/$multiarch/okt-client/libokt-warble-qt.so" "usr/lib/$multiarch/okt-client/libokt-warble-emulator.so" \
         usr/share/okt-client/devices/demo/demo.json usr/share/okt-client/devices/samples/session.hex \
         usr/share/okt-client/icon-catalogue/index.html usr/share/okt-client/device-schema.json \
         usr/share/applications/org.okt.Client.desktop usr/share/icons/hicolor/scalable/apps/okt-client.svg \
         usr/share/metainfo/org.okt.Client.metainfo.xml usr/share/doc/okt-client/copyright \
         usr/share/man/man1/okt-client.1.gz usr/share/man/man1/okt-render.1.gz usr/share/man/man1/okt-decode.1.gz \
         usr/share/man/man1/okt-icons.1.gz usr/share/doc/okt-client/changelog.gz; do
  [ -e "$root/$f" ] || fail "the package lacks /$f"
done

# Debian's checks: errors fail, the rest is shown.
lintian --fail-on error "$deb" || fail "lintian"

desktop-file-validate "$root/usr/share/applications/org.okt.Client.desktop" || fail "desktop entry"
appstreamcli validate --no-net "$root/usr/share/metainfo/org.okt.Client.metainfo.xml" || fail "AppStream data"
for page in "$root"/usr/share/man/man1/*.1.gz; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$(basename "$page"): $warnings"
done

# The same demo display from the installed tree and from the build tree. The
# installed program is given the library by name only, from another folder,
# and must load the copy in its own tree.
unset OKT_BLE_LIBRARY LD_LIBRARY_PATH
export QT_QPA_PLATFORM=offscreen
(cd "$work" && LD_DEBUG=libs "$root/usr/bin/okt-render" --ble-library okt-warble-emulator --out installed) \
  >"$work/installed.log" 2>&1 || { tail -20 "$work/installed.log"; fail "the installed okt-render"; }
grep -q "calling init: $root/usr/lib/$multiarch/okt-client/libokt-warble-emulator.so" "$work/installed.log" ||
  fail "the installed okt-render did not load the installed emulator library"
"$built_render" --ble-library "$built_library" --out "$work/built" >"$work/built.log" 2>&1 ||
  { tail -20 "$work/built.log"; fail "the built okt-render"; }
cmp "$work/installed/home.png" "$work/built/home.png" || fail "the installed tree draws the demo differently"
[ "$(stat -c %s "$work/installed/home.png")" -gt 2000 ] || fail "the demo's picture is nearly empty"
decoded=$("$root/usr/bin/okt-decode" --device demo) || fail "the installed okt-decode"
grep -q "^INFO: " <<<"$decoded" || fail "the installed okt-decode printed no tables"
echo "the installed tree works"
