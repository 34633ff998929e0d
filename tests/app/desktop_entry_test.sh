#!/usr/bin/env bash
# Installs the program into a fresh prefix, as the README's install line does,
# and checks that a desktop would open .ase models with it: the entry
# validates and the file type tells a model from a sprite editor's .ase.
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null 2>&1
desktop-file-validate "$prefix/share/applications/robot-scene.desktop"
grep -qx 'Exec=robot %f' "$prefix/share/applications/robot-scene.desktop"
printf '\xef\xbb\xbf*3DSMAX_ASCIIEXPORT\t200\n' >"$prefix/model.ase"
printf '*COMMENT "no header"\n' >"$prefix/plain.ase"
printf '\x80\x00\x00\x00\xe0\xa5\x01\x00' >"$prefix/sprite.ase"
type_of() {
    XDG_DATA_DIRS="$prefix/share" gio info -a standard::content-type "$prefix/$1" |
        sed -n 's/.*content-type: //p'
}
[ "$(type_of model.ase)" = model/x-ase ]
[ "$(type_of plain.ase)" = model/x-ase ]
[ "$(type_of sprite.ase)" = image/x-ase-sprite ]
echo "desktop entry: all checks passed"
