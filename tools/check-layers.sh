#!/usr/bin/env bash
# Fails when a layer reaches up or sideways: support/ and model/ use no Qt, engine/ no Qt
# Widgets, components/ nothing of the engine, and libcurl stays inside the HTTP client. Inside
# the engine the rooms are a staircase too: net/ (HTTP, nothing of movies or files) <- disk/
# (durable files) <- AviHeaders <- the rest.
set -u
cd "${1:-$(dirname "$0")/..}" || exit 2
status=0
offend() { printf '%s\n' "$2" | sed "s|^|$1: |"; status=1; }

hits=$(grep -rnE '^\s*#\s*include\s*[<"](Q[A-Za-z]+|Qt[A-Za-z]*/)' support model)
[ -n "$hits" ] && offend "Qt in support/ or model/" "$hits"
hits=$(grep -rnE '^\s*#\s*include\s*[<"](QtWidgets/|Q(Widget|Application|MainWindow|Dialog|MessageBox|Label|PushButton|CheckBox|Layout|HBoxLayout|VBoxLayout|TreeWidget|LineEdit|FileDialog|AbstractButton|GroupBox|RadioButton|StatusBar|Frame|PlainTextEdit|Painter|Style)\b)' engine)
[ -n "$hits" ] && offend "Qt Widgets in engine/" "$hits"
hits=$(grep -rnE '^\s*#\s*include\s*"(engine|app)/' components)
[ -n "$hits" ] && offend "components/ reaches the engine or the application" "$hits"
hits=$(grep -rnE '^\s*#\s*include\s*"(app|components)/' support model engine)
[ -n "$hits" ] && offend "a lower layer reaches up" "$hits"
hits=$(grep -rnE '^\s*#\s*include\s*<curl/' --include='*.h' --include='*.cpp' . | grep -vE '^\./engine/net/' | grep -v '^\./build')
[ -n "$hits" ] && offend "libcurl outside engine/net/" "$hits"
hits=$(grep -rnE '^\s*#\s*include\s*"(model/|engine/(disk/|[A-Za-z]+\.h))' engine/net)
[ -n "$hits" ] && offend "engine/net/ reaches up" "$hits"
hits=$(grep -rnE '^\s*#\s*include\s*"(model/|engine/[A-Za-z]+\.h)' engine/disk)
[ -n "$hits" ] && offend "engine/disk/ reaches up" "$hits"
hits=$(grep -nE '^\s*#\s*include\s*"(model/|engine/)' engine/AviHeaders.h engine/AviHeaders.cpp)
[ -n "$hits" ] && offend "the AVI headers reach up" "$hits"
hits=$(grep -nE 'target_link_libraries\(components\b.*\bengine\b' components/CMakeLists.txt)
[ -n "$hits" ] && offend "components links the engine" "$hits"

[ $status -eq 0 ] && echo "layers: clean"
exit $status
