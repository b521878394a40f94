#!/usr/bin/env bash
# Fails (exit 1) when a file includes a header of a folder its folder may not
# include, or when a folder's CMake target links a library of such a folder:
# every folder depends only on the folders below it (README, "What is here").
# Headers are included project-relative ("host/scf.h"); the tests include
# their own support files relative to tests/ ("support/files.h"), which the
# benchmark shares.
# Usage: check-layers.sh [REPOSITORY]
set -euo pipefail
root="$(cd "${1:-$(dirname "$0")/..}" && pwd)"
cd "$root"

# What each folder may include and link, itself among them.
declare -A allowed=(
  [host]="host"
  [include]="host include"
  [formats]="host formats"
  [render]="host formats render"
  [model]="host include formats render model"
  [plugin]="host include model plugin"
  [engine]="host include engine"
  [example]="host include engine example"
  [sample]="host formats sample"
  [tools]="host include formats engine tools"
  [viewer]="host include formats engine tools viewer"
  [tests]="host include formats render engine sample tools viewer fuzz tests"
  [bench]="host include formats render model plugin engine tools tests bench"
  [fuzz]="host include formats render model plugin engine fuzz"
)

failures=0
fail() {
  echo "$1" >&2
  failures=$((failures + 1))
}
may() {  # may FOLDER LAYER
  [[ " ${allowed[$1]} " == *" $2 "* ]]
}

# Includes.
while IFS= read -r file; do
  folder="${file%%/*}"
  [ -n "${allowed[$folder]+set}" ] || continue
  while IFS=: read -r line header; do
    case "$header" in
      ical3dstate.h | irigweavestate.h | rigweave_module.h) layer=include ;;
      */*) layer="${header%%/*}" ;;
      *) layer="" ;;
    esac
    if [ "$layer" = support ] || { [ "$folder" = tests ] && [ -z "$layer" ]; }; then
      layer=tests
    fi
    if [ -z "$layer" ]; then
      fail "$file:$line: \"$header\" is not included project-relative"
    elif [ -z "${allowed[$layer]+set}" ]; then
      fail "$file:$line: \"$header\" is in no folder of the layers"
    elif ! may "$folder" "$layer"; then
      fail "$file:$line: $folder/ may not include $layer/ (\"$header\")"
    fi
  done < <(grep -n '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" |
           sed 's/^\([0-9]*\):[^"]*"\([^"]*\)".*/\1:\2/')
done < <(git ls-files '*.h' '*.cpp' '*.c')

# CMake: each command on one line, then which folder defines each target.
commands() {  # the CMake commands of FILE, one per line: FILE COMMAND ARGS...
  awk -v f="$1" '
    { sub(/#.*/, "") }
    { text = text " " $0 }
    END {
      while (match(text, /[A-Za-z_]+[[:space:]]*\([^()]*\)/)) {
        command = substr(text, RSTART, RLENGTH)
        text = substr(text, RSTART + RLENGTH)
        gsub(/[()]/, " ", command)
        gsub(/[[:space:]]+/, " ", command)
        print f " " command
      }
    }' "$1"
}
declare -A home
lists=$(git ls-files 'CMakeLists.txt' '*/CMakeLists.txt' | grep -v '^CMakeLists.txt$' || true)
while read -r file command target _; do
  case "$command" in
    add_library | add_executable) home[$target]="${file%%/*}" ;;
  esac
done < <(for list in $lists; do commands "$list"; done)
while read -r file command target rest; do
  [ "$command" = target_link_libraries ] || continue
  folder="${file%%/*}"
  [ -n "${allowed[$folder]+set}" ] || continue
  for linked in $rest; do
    [ -n "${home[$linked]+set}" ] || continue
    may "$folder" "${home[$linked]}" ||
      fail "$file: $target links $linked of ${home[$linked]}/, which $folder/ may not use"
  done
done < <(for list in $lists; do commands "$list"; done)

if [ "$failures" -gt 0 ]; then
  echo "check-layers: $failures violation(s)" >&2
  exit 1
fi
echo "check-layers: every include and link runs down the layers"
