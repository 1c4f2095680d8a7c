# shellcheck shell=bash
# A private apt configuration, sourced by the scripts that fetch Debian
# packages or sources we unpack but never install (the real-kernel rig's
# guests, EDK2's source). Its source list, package lists and download cache
# live in a folder of the caller's; the machine's own apt configuration is
# read (for the archive's URIs) but never written.
#
#   private_apt_init DIR LINE...   one source line per argument ("deb URI
#                                  SUITE main", "deb-src ..."), then update
#   private_apt ARGS...            apt-get with that configuration
#   private_apt_cache ARGS...      apt-cache with that configuration
#   archive_uris                   the URIs the machine's apt sources give
#                                  for its own suite, space-separated
#   archive_source_lines NAME TYPE SUITE...
#                                  sets archive_lines to one "TYPE [signed-by=
#                                  Debian's keyring] URI SUITE main" line per
#                                  archive URI and SUITE (for private_apt_init);
#                                  no URI: says so as NAME, returns 1
# PRIVATE_APT_ARCHS (default: the machine's) lists the architectures whose
# package lists are fetched.

archive_uris() {
  local suite
  suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
  {
    for f in /etc/apt/sources.list.d/*.sources; do
      [ -f "$f" ] || continue
      awk -v suite="$suite" '
        function flush() { if (has_suite && uris != "") print uris; uris = ""; has_suite = 0 }
        /^[[:space:]]*$/ { flush(); next }
        /^URIs:/ { sub(/^URIs:[[:space:]]*/, ""); uris = $0 }
        /^Suites:/ { n = split($0, w, /[[:space:]]+/); for (i = 2; i <= n; i++) if (w[i] == suite) has_suite = 1 }
        END { flush() }' "$f"
    done
    if [ -f /etc/apt/sources.list ]; then
      awk -v suite="$suite" '$1 == "deb" { i = 2; if ($i ~ /^\[/) { while ($i !~ /\]$/) i++; i++ } if ($(i + 1) == suite) print $i }' \
        /etc/apt/sources.list
    fi
  } | tr ' ' '\n' | { grep -v '^$' || true; } | sort -u | paste -sd ' '
}

archive_lines=()

archive_source_lines() {
  local name=$1 type=$2
  shift 2
  local uris uri suite
  uris=$(archive_uris)
  if [ -z "$uris" ]; then
    echo "$name: no apt source for the suite $(. /etc/os-release && echo "$VERSION_CODENAME") found in /etc/apt/sources.list{,.d}" >&2
    return 1
  fi
  archive_lines=()
  for uri in $uris; do
    for suite in "$@"; do
      archive_lines+=("$type [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $uri $suite main")
    done
  done
}

private_apt_opts=()

private_apt_init() {
  local dir=$1
  shift
  mkdir -p "$dir/lists/partial" "$dir/cache/archives/partial"
  printf '%s\n' "$@" >"$dir/sources.list"
  private_apt_opts=(
    -o "Dir::Etc::SourceList=$dir/sources.list"
    -o "Dir::Etc::SourceParts=-"
    -o "Dir::State::Lists=$dir/lists"
    -o "Dir::Cache=$dir/cache"
    -o "APT::Sandbox::User=root"
  )
  local arch
  for arch in ${PRIVATE_APT_ARCHS:-$(dpkg --print-architecture)}; do
    private_apt_opts+=(-o "APT::Architectures::=$arch")
  done
  private_apt update -qq
}

private_apt() { apt-get "${private_apt_opts[@]}" "$@"; }
private_apt_cache() { apt-cache "${private_apt_opts[@]}" "$@"; }
