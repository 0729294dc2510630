#!/usr/bin/env bash
# Installs the Debian packages a build step needs when they are missing.
# Usage: tools/ensure-deps.sh linux|windows|wine ...
set -euo pipefail

declare -A groups=(
  [linux]="cmake make g++ libgtest-dev libgmock-dev libbenchmark-dev"
  [windows]="cmake make g++ g++-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64"
  [wine]="wine64 xvfb xauth"
)

wanted=()
for group in "$@"; do
  [[ -n "${groups[$group]:-}" ]] || { echo "ensure-deps: unknown group '$group'" >&2; exit 2; }
  wanted+=(${groups[$group]})
done

missing=()
for package in "${wanted[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

if [[ $(id -u) -ne 0 ]]; then
  echo "Missing Debian packages: ${missing[*]}" >&2
  echo "Install them as root: apt-get update && apt-get install -y ${missing[*]}" >&2
  exit 1
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
