#!/usr/bin/env bash
# Lists the longest functions of the C++ files in the given folders (default
# the module's own: host/, include/, formats/, render/, model/ and plugin/),
# longest first, and fails (exit 1) when one is longer
# than the limit. A function's length is its lines from the first line of its
# name to its closing brace, blank lines and comments included; lambdas and
# local classes count as part of the function that holds them.
#
# A brace counter, not a parser: comments, string and character literals are
# blanked out first; a '{' opens a function when nothing but namespaces,
# classes and structs is open around it and the text since the previous ';',
# '{' or '}' holds a ')' and, outside parentheses, no '=' (an initialiser;
# operator= aside) or class-like keyword. Braces that initialise a member in
# a constructor's list do not end that text.
# Usage: function-lengths.sh [--limit N] [--top N] [FOLDER...]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
limit=60
top=10
while [ $# -gt 0 ]; do
  case "$1" in
    --limit) limit="$2"; shift 2 ;;
    --top) top="$2"; shift 2 ;;
    *) break ;;
  esac
done
folders=("$@")
[ ${#folders[@]} -gt 0 ] || folders=(host include formats render model plugin)

lengths="$(find "${folders[@]}" -name '*.cpp' -o -name '*.h' | sort | while read -r file; do
  awk -v file="$file" '
    function strip(s,   out, i, c, n) {
      out = ""
      n = length(s)
      for (i = 1; i <= n; i++) {
        c = substr(s, i, 1)
        if (incomment) {
          if (c == "*" && substr(s, i + 1, 1) == "/") { incomment = 0; i++ }
          continue
        }
        if (quote != "") {
          if (c == "\\") { i++; continue }
          if (c == quote) quote = ""
          continue
        }
        if (c == "/" && substr(s, i + 1, 1) == "/") break
        if (c == "/" && substr(s, i + 1, 1) == "*") { incomment = 1; i++; continue }
        if (c == "\"" || c == "'"'"'") { quote = c; continue }
        out = out c
      }
      return out
    }
    BEGIN { depth = 0; infunc = 0; pending = ""; start = 0 }
    {
      line = strip($0)
      if (line ~ /^[ \t]*#/) next
      n = length(line)
      for (i = 1; i <= n; i++) {
        c = substr(line, i, 1)
        if (c == "{") {
          depth++
          bare = pending
          while (gsub(/\([^()]*\)/, "", bare) > 0) {}
          gsub(/operator[^A-Za-z_0-9 \t]+/, "operator", bare)
          keep[depth] = 0
          if (!infunc && pending ~ /\)/ && bare ~ /[A-Za-z_0-9][ \t]*$/ && pending ~ /\)[ \t]*:/) {
            # A member initialised with braces in a constructor initialiser list: the
            # body is still to come.
            keep[depth] = 1
            continue
          }
          if (!infunc && pending ~ /\)/ && bare !~ /=/ &&
              bare !~ /(^|[^A-Za-z_])(namespace|class|struct|union|enum)([^A-Za-z_]|$)/) {
            infunc = depth
            name = pending
            gsub(/[ \t]+/, " ", name)
            sub(/\(.*/, "", name)
            sub(/^ /, "", name)
          }
          pending = ""
          start = 0
        } else if (c == "}") {
          if (keep[depth]) {
            keep[depth] = 0
            depth--
            pending = pending c
            continue
          }
          if (infunc == depth) {
            printf "%d %s:%d %s\n", NR - fstart + 1, file, fstart, name
            infunc = 0
          }
          depth--
          pending = ""
          start = 0
        } else if (c == ";") {
          pending = ""
          start = 0
        } else if (!infunc) {
          if (c !~ /[ \t]/ && start == 0) start = NR
          pending = pending c
          if (start != 0 && pending !~ /^[ \t]*$/ && !sawstart) { fstart = start; sawstart = 1 }
        }
      }
      if (!infunc) pending = pending " "
      if (pending ~ /^[ \t]*$/) sawstart = 0
    }
    { if (!infunc && pending ~ /^[ \t]*$/) sawstart = 0 }
  ' "$file"
done | sort -rn)"

echo "$lengths" | head -n "$top"
over="$(echo "$lengths" | awk -v limit="$limit" '$1 > limit' | wc -l)"
if [ "$over" -gt 0 ]; then
  echo "function-lengths: $over function(s) over $limit lines" >&2
  exit 1
fi
