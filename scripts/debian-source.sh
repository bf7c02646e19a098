# Sourced by the fetch scripts. Unpacks a Debian source package through a
# private apt configuration of deb-src lines, leaving the system's own apt
# sources and lists as they are.
#   debian_source PACKAGE WORKDIR "URI SUITE" ["URI SUITE"...]
# Unpacks into WORKDIR/src; answers non-zero when apt cannot fetch it.
debian_source() {
  local package="$1" work="$2"
  shift 2
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
  apt-get "${apt_opts[@]}" update -qq &&
    (cd "$work/src" && apt-get "${apt_opts[@]}" source -qq "$package" >/dev/null)
}
