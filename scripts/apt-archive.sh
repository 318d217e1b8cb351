# shellcheck shell=bash
# Sourced by the scripts that make Debian roots with mmdebstrap
# (wow64-root.sh, debian12-root.sh): archive_uri prints the archive that this
# machine's apt uses, so that no archive host is written into the project, and
# ensure_cached_root keeps each root made once per machine and recipe.

# The first archive of the machine's apt sources that is not a security
# archive (deb822 files first, then one-line lists).
archive_uri() {
  local file uri
  for file in /etc/apt/sources.list.d/*.sources; do
    [ -f "$file" ] || continue
    uri=$(awk '
      BEGIN { RS = ""; FS = "\n" }
      {
        uris = ""; suites = ""
        for (i = 1; i <= NF; i++) {
          if ($i ~ /^URIs:/) { uris = $i; sub(/^URIs:[ \t]*/, "", uris) }
          if ($i ~ /^Suites:/) { suites = $i }
        }
        if (uris != "" && suites !~ /security/) { split(uris, u, /[ \t]+/); print u[1]; exit }
      }' "$file")
    if [ -n "$uri" ]; then echo "$uri"; return 0; fi
  done
  for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$file" ] || continue
    uri=$(awk '$1 == "deb" && $0 !~ /security/ {
      for (i = 2; i <= NF; i++) if ($i !~ /^\[/ && $i !~ /\]$/) { print $i; exit } }' "$file")
    if [ -n "$uri" ]; then echo "$uri"; return 0; fi
  done
  return 1
}

# ensure_cached_root NAME: makes $CACHE_ROOT when it is missing or was made
# from another recipe. The sourcing script gives recipe_hash URI (the recipe's
# name), build_root URI WORK (makes the root in WORK/root) and die. One maker
# at a time, the others wait for it; a half-made root goes on a failure or an
# interruption, and the cached one is replaced only by a whole new one.
ensure_cached_root() {
  local name=$1 uri hash
  uri=$(archive_uri) || die "no archive in the machine's apt sources"
  hash=$(recipe_hash "$uri")
  if [ "$(cat "$CACHE_ROOT/.mervo-recipe" 2>/dev/null)" = "$hash" ]; then return 0; fi
  mkdir -p "$(dirname "$CACHE_ROOT")"
  exec 9>"$CACHE_ROOT.lock"
  flock 9
  if [ "$(cat "$CACHE_ROOT/.mervo-recipe" 2>/dev/null)" != "$hash" ]; then
    local work started=$SECONDS
    work=$(mktemp -d "$(dirname "$CACHE_ROOT")/.$name-make.XXXXXX")
    # shellcheck disable=SC2064
    trap "rm -rf --one-file-system '$work'" EXIT
    echo "$name: making $CACHE_ROOT" >&2
    build_root "$uri" "$work"
    echo "$hash" >"$work/root/.mervo-recipe"
    rm -rf --one-file-system "$CACHE_ROOT"
    mv "$work/root" "$CACHE_ROOT"
    rm -rf --one-file-system "$work"
    trap - EXIT
    echo "$name: made in $((SECONDS - started)) s ($(du -sh "$CACHE_ROOT" | cut -f1))" >&2
  fi
  flock -u 9
  exec 9>&-
}
