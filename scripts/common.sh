# What the run, test, bench and build scripts share. Sourced first, from the
# folder the script was called in: root is the checkout's top folder, caller
# that folder.
caller=$PWD
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# True when an argument asks for the script's help.
wants_help() {
    local arg
    for arg in "$@"; do
        if [ "$arg" = "--help" ] || [ "$arg" = "-h" ]; then
            return 0
        fi
    done
    return 1
}

# Prints the comment block at the top of a script (after its #! line): the
# script's help.
script_help() {
    awk 'NR == 1 && /^#!/ { next }
         /^#/ { sub(/^# ?/, ""); print; next }
         { exit }' "$1"
}

# Run by root in a checkout that another user owns, hands everything this
# run made in it back to that user (build folders, dist/, screenshots/,
# Python's caches...), so that the user's own builds can write there again.
# Only the outermost script does, at its end: a script it calls (test.sh
# calls build-windows.sh) leaves the folders to it.
[ -n "${ROBOT_HAND_BACK_BY:-}" ] || export ROBOT_HAND_BACK_BY=$$
hand_back_checkout() {
    [ "$ROBOT_HAND_BACK_BY" = "$$" ] && [ "$(id -u)" -eq 0 ] || return 0
    local owner
    owner=$(stat -c %u:%g "$root")
    [ "${owner%%:*}" -ne 0 ] || return 0
    find "$root" -xdev -user 0 -exec chown -h "$owner" {} + 2>/dev/null || true
}

# "12 s" or "3 min 5 s" since the given value of SECONDS.
time_since() {
    local s=$((SECONDS - $1))
    if [ "$s" -ge 60 ]; then
        echo "$((s / 60)) min $((s % 60)) s"
    else
        echo "$s s"
    fi
}

# A path in the checkout as the user can name it from the folder the script
# was called in.
shown_path() {
    realpath -m --relative-to="$caller" "$root/$1"
}
