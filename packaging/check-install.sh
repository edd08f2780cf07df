#!/bin/sh
# Installs the build into a scratch root and checks that the program finds
# its companions beside itself and the desktop finds the program.
#   check-install.sh BUILD_DIR
set -eu
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
DESTDIR=$root cmake --install "$1" --prefix /usr >/dev/null
status=0
for f in lib/lumara/LumaraEditor lib/lumara/libsonvex.so lib/lumara/libasiolink.so \
  lib/lumara/sonvex-cli lib/lumara/ipagp.ttf lib/lumara/D77000020.pdf lib/lumara/D77000001.pdf \
  lib/lumara/LumaraEditor_ja.qm bin/lumara-editor bin/sonvex-cli share/applications/lumara-editor.desktop \
  share/metainfo/com.malvec.LumaraEditor.metainfo.xml share/man/man1/sonvex-cli.1 \
  share/icons/hicolor/16x16/apps/lumara-editor.png share/icons/hicolor/256x256/apps/lumara-editor.png; do
  [ -e "$root/usr/$f" ] || { echo "not installed: $f"; status=1; }
done
# The links resolve inside the installed tree and the tool runs from there.
"$root/usr/bin/sonvex-cli" info "$root/usr/share/lumara/demo.dsf" >/dev/null || status=1
exit $status
