#!/usr/bin/env bash
# Every command in README.md's shell code blocks, run as written from the top folder of a copy of
# the repository's tracked files: each must succeed, and none may change a tracked file.
#   readme_commands.sh SOURCE_DIR BUILD_DIR
# The copy's build/default is BUILD_DIR, and the bare `tarsel-stage` is the one that
# `cmake --install BUILD_DIR --prefix PREFIX` puts in PREFIX/bin, on PATH, as the README says.
set -uo pipefail
source_dir=$(cd "$1" && pwd)
build_dir=$(cd "$2" && pwd)

# Not run: they install packages (root, network) and rebuild everything, which is what the rest of
# the suite is; the commands that follow them are the ones a user runs after set-up.
skipped=(apt-get sudo scripts/setup scripts/run-example scripts/test)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
copy=$work/repo
mkdir -p "$copy/build"
(cd "$source_dir" && git ls-files -z --cached | xargs -0 -r sh -c \
  'for f; do [ -e "$f" ] || [ -L "$f" ] && printf "%s\0" "$f"; done' sh |
  tar --null -T - -cf -) | tar -C "$copy" -xf - || exit 1
ln -s "$build_dir" "$copy/build/default"
git_copy() { git -C "$copy" -c user.name=readme -c user.email=readme@localhost "$@"; }
git_copy init -q && git_copy add -A && git_copy commit -q -m copy || exit 1

cmake --install "$build_dir" --prefix "$work/prefix" >"$work/install.log" 2>&1 ||
  { cat "$work/install.log"; exit 1; }
export PATH="$work/prefix/bin:$PATH"
unset TARSEL_MODULE

# The commands: lines of ```sh blocks, a line ending in a backslash joined to the next.
mapfile -t commands < <(awk '
  /^```/ { if (inside) { inside = 0 } else if ($0 ~ /^```(sh|bash|shell)$/) { inside = 1 }; next }
  !inside { next }
  { line = held $0; held = "" }
  line ~ /\\$/ { held = substr(line, 1, length(line) - 1); next }
  line ~ /^[ \t]*(#.*)?$/ { next }
  { print line }' "$copy/README.md")

ran=0
failed=0
for command in "${commands[@]}"; do
  first=${command%% *}
  skip=0
  for s in "${skipped[@]}"; do [ "$first" = "$s" ] && skip=1; done
  if [ $skip = 1 ]; then
    echo "skipped: $command"
    continue
  fi
  ran=$((ran + 1))
  if (cd "$copy" && bash -c "$command") >"$work/out.log" 2>&1; then
    echo "ok: $command"
  else
    echo "FAILED (exit $?): $command"
    sed 's/^/    /' "$work/out.log" | tail -n 20
    failed=$((failed + 1))
  fi
done

changed=$(git_copy status --porcelain --untracked-files=no)
if [ -n "$changed" ]; then
  echo "README commands changed tracked files:"
  echo "$changed"
  failed=$((failed + 1))
fi
if [ $ran = 0 ]; then
  echo "no commands found in README.md's shell blocks"
  exit 1
fi
echo "$ran commands run, $failed failures"
[ $failed = 0 ]
