#!/bin/sh
# Installs the build into a scratch root and checks the layout, the menu entry, and that
# the launcher seeds a new data folder once and never overwrites a user's files.
set -eu
build=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "install test: $*" >&2; exit 1; }

DESTDIR="$tmp/root" cmake --install "$build" --prefix /usr >/dev/null
usr=$tmp/root/usr
for f in bin/quorvel bin/quorvel-desktop share/applications/quorvel.desktop \
         share/icons/hicolor/scalable/apps/quorvel.svg share/icons/hicolor/48x48/apps/quorvel.png \
         share/icons/hicolor/256x256/apps/quorvel.png share/quorvel/examples/test.dat \
         share/quorvel/examples/user.dat share/man/man1/quorvel.1.gz share/doc/quorvel/copyright \
         share/quorvel/guide/index.html share/metainfo/io.github.quorvel.Quorvel.metainfo.xml; do
    [ -e "$usr/$f" ] || fail "missing $f"
done
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$usr/share/applications/quorvel.desktop" || fail "menu entry invalid"
fi

export HOME="$tmp/home" QT_QPA_PLATFORM=offscreen
unset XDG_DATA_HOME
data=$HOME/.local/share/quorvel
timeout 3 "$usr/bin/quorvel-desktop" >/dev/null 2>&1 || true
cmp -s "$usr/share/quorvel/examples/test.dat" "$data/test.dat" || fail "rule book not seeded"
cmp -s "$usr/share/quorvel/examples/user.dat" "$data/user.dat" || fail "balance not seeded"

printf 'mine' > "$data/user.dat"
timeout 3 "$usr/bin/quorvel-desktop" >/dev/null 2>&1 || true
[ "$(cat "$data/user.dat")" = mine ] || fail "the user's balance was overwritten"
echo "install test: ok"
