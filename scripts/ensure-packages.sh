#!/usr/bin/env bash
# Installs the Debian packages named on the command line that are missing.
# apt-get runs only when something is missing; its output goes to a log file
# that is named when it fails. Without root and without sudo it names the
# missing packages and the command that installs them, and stops.
set -euo pipefail
missing=()
for pkg in "$@"; do
    # A package named twice is installed once.
    case " ${missing[*]-} " in *" $pkg "*) continue ;; esac
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$pkg")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

install_command="apt-get update && apt-get install -y --no-install-recommends ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null 2>&1; then
        echo "Missing Debian packages: ${missing[*]}" >&2
        echo "This user is not root and there is no sudo. As root, install them with:" >&2
        echo "    $install_command" >&2
        echo "then run this command again." >&2
        exit 3
    fi
    sudo="sudo"
fi
log=$(mktemp "${TMPDIR:-/tmp}/robot-packages.XXXXXX.log")
echo "Installing ${#missing[@]} missing Debian packages: ${missing[*]} (log: $log)"
if ! { $sudo apt-get update -q &&
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends \
        "${missing[@]}"; } >"$log" 2>&1; then
    tail -n 15 "$log" >&2
    echo "Installing the packages failed; the whole output of apt-get is in $log" >&2
    echo "To install them by hand, as root: $install_command" >&2
    exit 3
fi
rm -f "$log"
