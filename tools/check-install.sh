#!/usr/bin/env bash
# Installs a build into a scratch prefix and checks what a desktop expects of it: the program,
# its menu entry, its icons and its AppStream metainfo, validated by the desktop's own tools
# when they are installed.
#   tools/check-install.sh BUILD_DIR
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
status=0
for f in bin/vemlis-loader share/applications/io.github.vemlis_loader.Loader.desktop share/metainfo/io.github.vemlis_loader.Loader.metainfo.xml \
         share/icons/hicolor/scalable/apps/vemlis-loader.svg; do
  [ -e "$prefix/$f" ] || { echo "missing: $f"; status=1; }
done
for size in 16 22 24 32 48 64 128 256; do
  png="$prefix/share/icons/hicolor/${size}x${size}/apps/vemlis-loader.png"
  [ -s "$png" ] || { echo "missing: $png"; status=1; continue; }
  if command -v file >/dev/null && ! file "$png" | grep -q "$size x $size"; then echo "wrong size: $png"; status=1; fi
done
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$prefix/share/applications/io.github.vemlis_loader.Loader.desktop" || status=1
else
  echo "desktop-file-validate not installed: skipped"
fi
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net "$prefix/share/metainfo/io.github.vemlis_loader.Loader.metainfo.xml" || status=1
else
  echo "appstreamcli not installed: skipped"
fi
# The Debian package: its Depends come from the libraries the program links.
if command -v dpkg-shlibdeps >/dev/null && command -v cpack >/dev/null; then
  (cd "$prefix" && cpack -G DEB --config "$(cd "$build" && pwd)/CPackConfig.cmake" -B "$prefix/deb" >/dev/null) || status=1
  deb=$(ls "$prefix"/deb/*.deb 2>/dev/null | head -1)
  if [ -z "$deb" ]; then
    echo "no Debian package made"; status=1
  else
    depends=$(dpkg-deb -f "$deb" Depends)
    for lib in libqt6widgets6 libqt6dbus6 libcurl4; do
      case "$depends" in *"$lib"*) ;; *) echo "the package does not depend on $lib: $depends"; status=1 ;; esac
    done
    contents=$(dpkg-deb -c "$deb")
    case "$contents" in *usr/bin/vemlis-loader*) ;; *) echo "the package lacks the program"; status=1 ;; esac
    # Debian's checker: no error and no warning (its notes on the program's own spellings are
    # overridden in the package, with the reason).
    if command -v lintian >/dev/null; then
      report=$(lintian --allow-root --info "$deb" 2>&1 | grep -vE '^N: ' || true)
      echo "$report" | grep -E '^[EW]: ' && { echo "lintian: errors or warnings"; status=1; }
      # Sanitizer builds bring their own instrumentation instead of the hardening flags.
      if grep -q '^VEMLIS_SANITIZE:STRING=$' "$build/CMakeCache.txt"; then
        echo "$report" | grep -E '^I: .*hardening' && { echo "lintian: the program is not hardened"; status=1; }
      fi
    else
      echo "lintian not installed: skipped"
    fi
  fi
fi
[ $status -eq 0 ] && echo "install: complete"
exit $status
