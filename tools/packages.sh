# Sourced by test.sh and run.sh: installs the Debian packages the project needs, once.
vemlis_packages=(build-essential cmake pkg-config curl libgtest-dev libbenchmark-dev qt6-base-dev
  qt6-tools-dev qt6-l10n-tools qt6-translations-l10n
  libcurl4-openssl-dev libcpp-httplib-dev libpugixml-dev xvfb xauth imagemagick fonts-liberation
  desktop-file-utils appstream dbus openbox dpkg-dev file openssl ccache lintian)

vemlis_install_packages() {
  local missing=() p
  for p in "${vemlis_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}
