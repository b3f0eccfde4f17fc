#!/usr/bin/env bash
# Installs the Debian packages the project needs, and only those that are
# missing: `apt-get update` once, then `apt-get install -y` of the missing ones.
# Usage: scripts/deps.sh [build] [gui] [bench] [fuzz]
set -euo pipefail

want=(build-essential cmake ninja-build zlib1g-dev libgtest-dev libmimalloc-dev)
for group in "$@"; do
  case "$group" in
    build) ;;
    gui) want+=(qt6-base-dev fonts-noto-cjk xvfb xauth) ;;
    bench) want+=(libbenchmark-dev time) ;;
    fuzz) want+=(clang libclang-rt-14-dev) ;;
    *) echo "deps.sh: unknown group '$group'" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${want[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
