# shellcheck shell=bash
# Sourced by the scripts that make Debian roots with mmdebstrap
# (wow64-root.sh, debian12-root.sh): archive_uri prints the archive that this
# machine's apt uses, so that no archive host is written into the project.

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
