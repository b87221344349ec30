#!/usr/bin/env bash
# Every relative link in README.md and docs/*.md must lead somewhere: to a file
# or folder that exists, and, with a #anchor into a Markdown file, to a heading
# of that file. Anchors are made as GitHub makes them: the heading's text
# without its Markdown, lower case (ASCII letters; others are compared as
# written), punctuation dropped except '-' and '_', each space a '-', and
# '-1', '-2' ... after a repeated one. Links with a
# scheme (http:, https:, mailto:) are not fetched. Links inside fenced code
# blocks and code spans are not links. Each broken link is named with its file
# and line, and the check fails.
#   scripts/check-doc-links.sh [root]     (root: the repository, by default)
set -euo pipefail
root="${1:-$(cd "$(dirname "$0")/.." && pwd)}"
cd "$root"

# The links of one file, one "line<TAB>target" per line: inline links and
# images [text](target "title"), and reference definitions [name]: target.
links_of() {
  LC_ALL=C awk '
    /^[ \t]*(```|~~~)/ { fenced = !fenced; next }
    fenced { next }
    {
      line = $0
      gsub(/`[^`]*`/, "", line)            # code spans hold no links
      if (match(line, /^[ \t]*\[[^]]+\]:[ \t]*[^ \t]+/)) {
        def = substr(line, RSTART, RLENGTH)
        sub(/^[ \t]*\[[^]]+\]:[ \t]*/, "", def)
        print NR "\t" def
      }
      while (match(line, /\]\([^) \t]+/)) {
        print NR "\t" substr(line, RSTART + 2, RLENGTH - 2)
        line = substr(line, RSTART + RLENGTH)
      }
    }' "$1"
}

# The anchors of one Markdown file, one per line.
anchors_of() {
  LC_ALL=C awk '
    /^[ \t]*(```|~~~)/ { fenced = !fenced; next }
    fenced { next }
    /^ ? ? ?#+([ \t]|$)/ && match($0, /#+/) && RLENGTH <= 6 {   # (no {m,n} in mawk)
      text = $0
      sub(/^ *#+[ \t]*/, "", text)
      sub(/[ \t]+#+[ \t]*$/, "", text)     # closing hashes
      sub(/[ \t]+$/, "", text)
      while (match(text, /!?\[[^]]*\]\([^)]*\)/)) {   # a link counts by its text
        inner = substr(text, RSTART, RLENGTH)
        sub(/^!?\[/, "", inner); sub(/\]\(.*$/, "", inner)
        text = substr(text, 1, RSTART - 1) inner substr(text, RSTART + RLENGTH)
      }
      slug = tolower(text)
      gsub(/[]!"#$%&'\''()*+,.\/:;<=>?@[\\^`{|}~]/, "", slug)
      gsub(/\342\200[\223\224\230\231\234\235\246]/, "", slug)   # dashes, quotes, ellipsis
      gsub(/ /, "-", slug)
      if (slug in seen) { n = seen[slug]++; print slug "-" n }
      else { seen[slug] = 1; print slug }
      next
    }
    {                                       # explicit HTML anchors
      line = $0
      while (match(line, /(id|name)="[^"]+"/)) {
        a = substr(line, RSTART, RLENGTH); sub(/^[a-z]+="/, "", a); sub(/"$/, "", a)
        print a
        line = substr(line, RSTART + RLENGTH)
      }
    }' "$1"
}

broken=0
checked=0
files=(README.md docs/*.md)
for file in "${files[@]}"; do
  [ -f "$file" ] || continue
  dir=$(dirname "$file")
  while IFS=$'\t' read -r line target; do
    target=${target#<}; target=${target%>}
    case "$target" in
      [a-zA-Z]*:*) continue ;;              # http:, https:, mailto: ...
    esac
    checked=$((checked + 1))
    path=${target%%#*}
    anchor=""
    [ "$path" != "$target" ] && anchor=${target#*#}
    path=${path//%20/ }
    if [ -z "$path" ]; then
      dest=$file
    else
      dest=$(realpath -m --relative-to=. "$dir/$path")
      if [ ! -e "$dest" ]; then
        echo "$file:$line: link '$target' leads to no file ($dest)"
        broken=$((broken + 1))
        continue
      fi
    fi
    if [ -n "$anchor" ]; then
      case "$dest" in
        *.md) ;;
        *) continue ;;                       # line anchors of other files are GitHub's
      esac
      if [ -d "$dest" ] || ! anchors_of "$dest" | grep -qxF -- "$anchor"; then
        echo "$file:$line: link '$target' leads to no heading '#$anchor' in $dest"
        broken=$((broken + 1))
      fi
    fi
  done < <(links_of "$file")
done

if [ $broken -ne 0 ]; then
  echo "doc links: $broken of $checked relative links in README.md and docs/ lead nowhere"
  exit 1
fi
echo "doc links: all $checked relative links in README.md and docs/ lead to a file and heading"
