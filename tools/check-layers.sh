#!/bin/bash
# The tree's floors, checked: every #include "..." of a product folder, and
# every library its CMakeLists.txt links, points down, never up and never
# sideways between folders of one floor; and no source file (product, tests,
# benchmarks, fuzz targets) is over 500 lines.
# README's "Where things are" says the same in words.  Each half alone:
#   tools/check-layers.sh arrows ROOT   (CTest: Layers.EveryIncludeAndLinkPointsDown)
#   tools/check-layers.sh lines ROOT    (CTest: Layers.NoSourceFileOverFiveHundredLines)
# With no argument it checks both, in the tree it stands in.
set -euo pipefail
what=${1:-all}
root=${2:-$(dirname "$0")/..}
cd "$root"

# Lowest first.  Folders on one floor stand side by side: no include runs
# between them (link/ and drivers/ are the two sides of the library ABI).
floors=(
  "files wire abi"
  "i18n"
  "link drivers"
  "module emulator"
  "ui bridge"
  "config live toolsmenu cli"
  "shell"
)
folders=$(printf '%s ' "${floors[@]}")
most_lines=500

failed=0
# An include names a header of its own folder (or of a subfolder of it), else
# one of another floor folder; a name that several other folders hold (a
# namesake) counts as the lowest of them.  Other names (the system's, the
# generated ones) are not the floors' business.
[ "$what" = lines ] || awk -v floors="$(printf '%s\n' "${floors[@]}")" '
    BEGIN {
        n = split(floors, rows, "\n")
        for (i = 1; i <= n; ++i) { m = split(rows[i], names, " "); for (j = 1; j <= m; ++j) level[names[j]] = i }
    }
    FNR == 1 { top = FILENAME; sub(/\/.*/, "", top) }
    FILENAME == "-" {
        k = split($0, p, "/"); header = p[k]; own[p[1], header] = 1
        if (!(header in home) || level[p[1]] < level[home[header]]) home[header] = p[1]
        next
    }
    /^[ \t]*#[ \t]*include[ \t]*"/ {
        name = $0; sub(/^[^"]*"/, "", name); sub(/".*/, "", name)
        base = name; sub(/.*\//, "", base)
        if ((top, base) in own || !(base in home) || level[home[base]] < level[top]) next
        printf "%s:%d: includes \"%s\" of %s/, which is not below %s/\n", FILENAME, FNR, name, home[base], top
        bad = 1
    }
    END { exit bad }
' - $(find $folders -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.c' \) | sort) \
  < <(find $folders -type f -name '*.h' | sort) || failed=1

# A library a folder's CMakeLists.txt names (outside comments) is a link to
# the folder that adds it, and points down as an include does.
[ "$what" = lines ] || awk -v floors="$(printf '%s\n' "${floors[@]}")" '
    BEGIN {
        n = split(floors, rows, "\n")
        for (i = 1; i <= n; ++i) { m = split(rows[i], names, " "); for (j = 1; j <= m; ++j) level[names[j]] = i }
    }
    FNR == 1 { top = FILENAME; sub(/\/.*/, "", top); ++pass }
    /^[ \t]*#/ { next }
    pass <= n_files && match($0, /add_library\([A-Za-z0-9_]+/) { home[substr($0, RSTART + 12, RLENGTH - 12)] = top }
    pass > n_files {
        for (i = 1; i <= NF; ++i) {
            word = $i; gsub(/[()]/, "", word)
            if (!(word in home) || home[word] == top || level[home[word]] < level[top]) continue
            printf "%s:%d: links %s of %s/, which is not below %s/\n", FILENAME, FNR, word, home[word], top
            bad = 1
        }
    }
    END { exit bad }
' n_files="$(ls $(printf '%s/CMakeLists.txt ' $folders) | wc -l)" \
  $(printf '%s/CMakeLists.txt ' $folders) $(printf '%s/CMakeLists.txt ' $folders) || failed=1

[ "$what" = arrows ] || while read -r lines file; do
  [ "$file" = total ] && continue
  if [ "$lines" -gt "$most_lines" ]; then
    echo "$file: $lines lines, over $most_lines"
    failed=1
  fi
done < <(find $folders tests bench fuzz -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.c' \) -print0 | xargs -0 wc -l)

exit $failed
