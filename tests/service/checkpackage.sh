#!/usr/bin/env bash
# Makes the Debian package of the build in $1, unpacks it into a folder root
# with dpkg -x, validates its desktop entry and AppStream metadata, and runs
# both programs from there: lumivale-catalog scans and serves a video, and
# stops cleanly on SIGTERM; lumivale answers --status.
set -euo pipefail
build="$1" media="$2"
work="$(mktemp -d)"
trap 'kill "${server:-}" 2>/dev/null || true; rm -rf "$work"' EXIT

(cd "$build" && cpack -G DEB -B "$work/out" >/dev/null)
deb="$(ls "$work"/out/lumivale_*.deb)"
dpkg-deb -f "$deb" Depends | grep -q "qml6-module-qtquick," 
dpkg-deb -f "$deb" Depends | grep -q "fonts-inter"
dpkg-deb -f "$deb" Depends | grep -q "libcpp-httplib"
root="$work/root"
dpkg -x "$deb" "$root"
for file in usr/bin/lumivale usr/bin/lumivale-catalog usr/libexec/lumivale/lumivale-app \
            usr/lib/systemd/user/lumivale-catalog.service usr/share/applications/lumivale.desktop \
            usr/share/icons/hicolor/scalable/apps/lumivale.svg \
            usr/share/metainfo/io.github.lumivale.Lumivale.metainfo.xml; do
  [ -e "$root/$file" ] || { echo "package lacks $file"; exit 1; }
done
grep -q "^ExecStart=/usr/bin/lumivale-catalog serve" "$root/usr/lib/systemd/user/lumivale-catalog.service"
desktop-file-validate "$root/usr/share/applications/lumivale.desktop"
appstreamcli validate --no-net "$root/usr/share/metainfo/io.github.lumivale.Lumivale.metainfo.xml" >/dev/null

library="$work/library"
mkdir -p "$library"
cp "$media/red.mp4" "$library/sunrise.mp4"
"$root/usr/bin/lumivale-catalog" scan "$library"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
"$root/usr/bin/lumivale-catalog" serve --library "$library" --listen "127.0.0.1:$port" >"$work/serve.log" 2>&1 &
server=$!
for _ in $(seq 50); do curl -sf -o /dev/null "http://127.0.0.1:$port/healthz" && break; sleep 0.1; done
curl -sf "http://127.0.0.1:$port/manifest.json?deviceId=package" | grep -q '"id":"sunrise"'
kill -TERM "$server"
wait "$server"
server=""
grep -q "GET /manifest.json 200" "$work/serve.log"

export XDG_RUNTIME_DIR="$work/run" XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache" \
       XDG_DATA_HOME="$work/data" QT_QPA_PLATFORM=offscreen
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
"$root/usr/bin/lumivale" --status | grep -q "not running"
echo "package: $(basename "$deb") unpacks and runs"
