#!/usr/bin/env bash
# Installs everything the build and the tests need. Idempotent: when all is present it only
# checks and returns within seconds.
set -euo pipefail

apt_packages=(cmake ninja-build g++ pkg-config libicu-dev libhwy-dev libgtest-dev libgmock-dev libpcre2-dev)
missing=()
for p in "${apt_packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}" >/dev/null
fi

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
python="${PYTHON:-python3}"
if ! "$python" - "$here/requirements-dev.txt" <<'PY'
import sys
from importlib import metadata
for line in open(sys.argv[1]):
    line = line.split("#")[0].strip()
    if not line:
        continue
    name, version = line.split("==")
    try:
        installed = metadata.version(name)
    except metadata.PackageNotFoundError:
        sys.exit(1)
    if installed.split("+")[0] != version:
        sys.exit(1)
PY
then
  echo "setup: installing Python packages"
  "$python" -m pip install -q --root-user-action=ignore -r "$here/requirements-dev.txt"
fi
