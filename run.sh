#!/usr/bin/env bash
# Builds the program and starts it with the demo catalogue server on 127.0.0.1:8087.
# The program keeps its data in a fresh demo folder (build-run/demo). Without a display it
# runs under Xvfb, saves pictures of the list panel, the download view and the dialogs, and
# prints where they are.
set -euo pipefail
cd "$(dirname "$0")"
. tools/packages.sh
vemlis_install_packages

# The tree ./test.sh builds, configured the same way: whichever of the two runs second only
# builds what changed.
build=build-test
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEMLIS_SANITIZE= >/dev/null
cmake --build "$build" -j"$(nproc)" --target vemlis-loader vemlis-demo-server vemlis-screenshots

demo=build-run/demo
rm -rf "$demo"
mkdir -p "$demo"
# The program keeps data.kq4 and temp.kq4 beside its executable: a copy in the demo folder.
cp "$build/app/vemlis-loader" "$demo/"

"$build/tests/testsupport/vemlis-demo-server" --port 8087 --throttle 153600 &
server=$!
trap 'kill $server 2>/dev/null || true' EXIT
sleep 0.5
if ! kill -0 "$server" 2>/dev/null; then
  echo "The demo server could not start (is port 8087 in use?)" >&2
  exit 1
fi

if [ -n "${DISPLAY:-}" ]; then
  "$demo/vemlis-loader"
  echo "State kept in $demo/data.kq4"
else
  shots=build-run/screenshots
  rm -rf "$shots"
  mkdir -p "$shots"
  echo "No display: running under Xvfb and saving pictures."
  xvfb-run -a -s "-screen 0 1280x900x24" sh -c "
    { command -v openbox >/dev/null && openbox >/dev/null 2>&1 & } ; sleep 1;
    $build/tests/app/vemlis-screenshots http://127.0.0.1:8087/movies.xml '$shots' '$(pwd)/$demo' &&
    { '$demo/vemlis-loader' & pid=\$!; sleep 3; import -window root '$shots/screen.png'; kill -TERM \$pid; wait \$pid; }"
  # At the 11 pt that KDE and qt6ct set, and at scale 2 on a 1920x1080 screen with it.
  for look in "11pt 1280x900x24 1" "scale2-11pt 1920x1080x24 2"; do
    set -- $look
    mkdir -p "$shots/$1" "$demo/$1"
    QT_SCALE_FACTOR=$3 VEMLIS_SCREENSHOTS_POINTS=11 xvfb-run -a -s "-screen 0 $2" sh -c "
      { command -v openbox >/dev/null && openbox >/dev/null 2>&1 & } ; sleep 1;
      $build/tests/app/vemlis-screenshots http://127.0.0.1:8087/movies.xml '$shots/$1' '$(pwd)/$demo/$1'" >/dev/null
  done
  echo "Pictures: $(cd "$shots" && pwd)"
  ls "$shots"
fi
