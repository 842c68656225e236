#!/usr/bin/env bash
# Fails when a layer includes a header of a layer it does not build on.
# The layers, each with the include folders it may use:
#   host       quorvel/*.hpp (the host interface) only
#   dsp        quorvel/audio/ only
#   rules      quorvel/audio/, quorvel/rules/ and nlohmann/ (the JSON reader)
#   nodes      quorvel/audio/, quorvel/nodes/ and the host
#   extension  all of those and quorvel/audioeffects/, quorvel/AudioEffects.hpp
# No layer below the rules (dsp, host) may include quorvel/rules/.
# Any other include is a standard or system header in <>, or a private
# header in "" that sits beside the file including it or in its layer's src/
# (the core's vector kernels live in dsp/src/vector/).
#
#   scripts/check-layers.sh [source root]
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}

# The layer a quorvel/ header belongs to, or "unknown".
layer_of() {
  case $1 in
    quorvel/audio/*) echo dsp ;;
    quorvel/rules/*) echo rules ;;
    quorvel/nodes/*) echo nodes ;;
    quorvel/audioeffects/* | quorvel/AudioEffects.hpp) echo extension ;;
    quorvel/*/*) echo unknown ;;
    *) if [ -f "$root/host/include/$1" ]; then echo host; else echo unknown; fi ;;
  esac
}

may_include() {  # <layer> <layer of the header>
  case $1 in
    host) [ "$2" = host ] ;;
    dsp) [ "$2" = dsp ] ;;
    rules) [[ $2 =~ ^(dsp|rules)$ ]] ;;
    nodes) [[ $2 =~ ^(dsp|host|nodes)$ ]] ;;
    extension) [[ $2 =~ ^(dsp|host|nodes|extension)$ ]] ;;
  esac
}

failures=0
checked=0
fail() {
  echo "$1: $2" >&2
  failures=$((failures + 1))
}

for layer in host dsp rules nodes extension; do
  [ -d "$root/$layer" ] || { fail "$root/$layer" "no such layer folder"; continue; }
  while IFS= read -r -d '' file; do
    lineno=0
    while IFS= read -r line; do
      lineno=$((lineno + 1))
      [[ $line =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*([\"\<])([^\"\>]*)[\"\>] ]] || continue
      checked=$((checked + 1))
      delimiter=${BASH_REMATCH[1]} header=${BASH_REMATCH[2]}
      where="${file#"$root"/}:$lineno"
      case $header in
        quorvel/*)
          owner=$(layer_of "$header")
          may_include "$layer" "$owner" || fail "$where" "$layer includes $header ($owner)"
          ;;
        nlohmann/*)
          [ "$layer" = rules ] || [ "$delimiter" = '<' ] ||
            fail "$where" "$header is neither a quorvel/ header nor a private header of $layer"
          ;;
        *)
          if [ "$delimiter" = '"' ]; then
            if [[ $header == *..* ]] ||
              { [ ! -f "$(dirname "$file")/$header" ] && [ ! -f "$root/$layer/src/$header" ]; }; then
              fail "$where" "$header is neither a quorvel/ header nor a private header of $layer"
            fi
          fi
          ;;
      esac
    done <"$file"
  done < <(find "$root/$layer" \( -name '*.hpp' -o -name '*.h' -o -name '*.cpp' \) -print0 | sort -z)
done

# The architecture's table of the tool's files names every one of them.
for file in "$root"/tools/src/*.cpp "$root"/tools/src/*.hpp; do
  stem=$(basename "$file")
  stem=${stem%.*}
  grep -q "\`$stem\(\.[ch]pp\)\?\`" "$root/docs/architecture.md" ||
    fail "docs/architecture.md" "the table of tools/src does not name $stem"
done

if [ "$failures" -gt 0 ]; then
  echo "check-layers: $failures include(s) outside their layer or files the architecture misses" >&2
  exit 1
fi
echo "check-layers: $checked includes, each within its layer"
