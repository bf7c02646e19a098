# Sourced by the fetch scripts. Unpacks a Debian source package through a
# private apt configuration of deb-src lines, leaving the system's own apt
# sources and lists as they are. The archives are the ones the machine's own
# apt sources name, so that mirrors and proxies set up there keep working.

# Prints "URI SUITE" for each Debian binary suite in the machine's apt
# sources: deb822 .sources files and one-line .list entries.
apt_suites() {
  local file
  for file in /etc/apt/sources.list.d/*.sources; do
    [[ -f "$file" ]] || continue
    awk '
      function flush() {
        if (types ~ /(^| )deb( |$)/ && enabled != "no") {
          n = split(uris, u, " "); m = split(suites, s, " ")
          for (i = 1; i <= n; i++) for (j = 1; j <= m; j++) print u[i], s[j]
        }
        types = ""; uris = ""; suites = ""; enabled = ""
      }
      /^[ \t]*#/ { next }
      /^[ \t]*$/ { flush(); next }
      {
        key = tolower($1); sub(/:$/, "", key); $1 = ""; sub(/^ +/, "")
        if (key == "types") types = $0
        else if (key == "uris") uris = $0
        else if (key == "suites") suites = $0
        else if (key == "enabled") enabled = tolower($0)
      }
      END { flush() }' "$file"
  done
  for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [[ -f "$file" ]] || continue
    # deb [options] URI SUITE COMPONENT...
    sed -e 's/#.*//' -e 's/\[[^]]*\]//' "$file" | awk '$1 == "deb" && NF >= 3 { print $2, $3 }'
  done
}

# The archive URIs that serve the suite, one a line, each once. The release
# may be named by its code name or as "stable"; its updates count too.
archives_of() {
  apt_suites | awk -v suite="$1" '
    { s = $2; sub(/-updates$/, "", s) }
    (s == suite || (suite !~ /-security$/ && s == "stable")) && !seen[$1]++ { print $1 }'
}

#   debian_source PACKAGE WORKDIR "URI SUITE" ["URI SUITE"...]
# Unpacks into WORKDIR/src; answers non-zero when apt cannot fetch it.
debian_source() {
  local package="$1" work="$2"
  shift 2
  (($# > 0)) || { echo "no Debian archive found in /etc/apt/sources.list or /etc/apt/sources.list.d" >&2; return 1; }
  local apt_opts=(
    -o "Dir::Etc::SourceList=$work/sources.list"
    -o "Dir::Etc::SourceParts=/dev/null"
    -o "Dir::State::Lists=$work/lists"
    -o "Dir::Cache::Archives=$work/archives"
    -o "Dir::Cache::pkgcache=" -o "Dir::Cache::srcpkgcache="
    -o "APT::Sandbox::User=root"
  )
  : >"$work/sources.list"
  local suite
  for suite in "$@"; do
    echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $suite main" >>"$work/sources.list"
  done
  rm -rf "$work/src" "$work/lists" "$work/archives"
  mkdir -p "$work/src" "$work/lists/partial" "$work/archives/partial"
  apt-get "${apt_opts[@]}" update -qq || return 1
  (cd "$work/src" && apt-get "${apt_opts[@]}" source -qq "$package" >/dev/null) ||
    (cd "$work/src" && source_without_upstream_signature "$package" "${apt_opts[@]}")
}

# Some mirrors lack the upstream author's signature (.asc) beside a source
# tarball, and apt then fetches nothing. Each other file is fetched from the
# address apt gives and checked against the checksum of apt's signed index;
# the missing signature's line is left out of the .dsc, then unpacked.
source_without_upstream_signature() {
  local package="$1" uri name size sum dsc missing=""
  shift
  # Only the files apt has not fetched yet are listed.
  while read -r uri name size sum; do
    if ! /usr/lib/apt/apt-helper download-file "${uri//\'/}" "$name" "$sum" >/dev/null 2>&1; then
      [[ "$name" == *.asc ]] || return 1
      missing="$name"
    fi
  done < <(apt-get "$@" source --print-uris -qq "$package")
  dsc="$(find . -maxdepth 1 -name "${package}_*.dsc" | head -n1)"
  [[ -n "$dsc" ]] || return 1
  if [[ -n "$missing" ]]; then
    sed -i "/ ${missing//./\\.}\$/d" "$dsc"
    echo "$package: the archive has no $missing; the other files match apt's checksums" >&2
  fi
  # Checked above; the .dsc's own signature no longer matches it.
  dpkg-source --no-check -x "$dsc" >/dev/null
}
