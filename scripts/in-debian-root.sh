#!/usr/bin/env bash
# Runs a command on a copy of this tree inside a minimal Debian root of the
# given release, made with debootstrap when it does not exist yet. The root
# gets /proc, /dev, /dev/pts and /sys (read-only) bound in, and a /dev/shm of
# its own, for the run; they are unmounted on every way out, failure and
# Ctrl-C included.
#
# Usage: scripts/in-debian-root.sh [--root DIR] [--fresh] RELEASE COMMAND...
#   --root DIR  where the root lives (default: .debian-root/RELEASE in this tree)
#   --fresh     remove an existing root first and build it anew
# The tree is copied to /root/spectrafox in the root (build folders made there
# by an earlier run are kept); COMMAND runs in that folder as root, e.g.
#   scripts/in-debian-root.sh trixie scripts/test.sh
# The archive is the one this machine's apt uses. Needs root, debootstrap.
set -euo pipefail
tree="$(cd "$(dirname "$0")/.." && pwd)"
usage() { echo "usage: $0 [--root DIR] [--fresh] RELEASE COMMAND..." >&2; exit 2; }

root_dir=""
fresh=no
while [ $# -gt 0 ]; do
  case "$1" in
    --root) [ $# -ge 2 ] || usage; root_dir="$2"; shift 2 ;;
    --fresh) fresh=yes; shift ;;
    --) shift; break ;;
    -*) usage ;;
    *) break ;;
  esac
done
[ $# -ge 2 ] || usage
release="$1"; shift
[[ "$release" =~ ^[a-z]+$ ]] || { echo "not a release name: $release" >&2; exit 2; }
[ "$(id -u)" -eq 0 ] || { echo "$0 must run as root (debootstrap, chroot, mounts)" >&2; exit 1; }
root_dir="${root_dir:-$tree/.debian-root/$release}"
mkdir -p "$root_dir"
root_dir="$(cd "$root_dir" && pwd)"
[ "$root_dir" != / ] || { echo "refusing to use / as the root" >&2; exit 2; }

# The Debian archive of this machine's apt sources: the first URIs (deb822) or
# deb line that is not the security archive.
host_mirror() {
  local uri
  uri=$(awk '/^URIs:/ && $2 !~ /security/ {print $2; exit}' /etc/apt/sources.list.d/*.sources 2>/dev/null || true)
  [ -n "$uri" ] || uri=$(awk '$1 == "deb" && $0 !~ /security/ {for (i = 2; i <= NF; i++) if ($i ~ /:\/\//) {print $i; exit}}' \
                            /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null || true)
  [ -n "$uri" ] || { echo "no Debian archive found in this machine's apt sources" >&2; exit 1; }
  echo "$uri"
}

mounts_below() { awk -v d="$1" '$2 == d || index($2, d "/") == 1 {print $2}' /proc/self/mounts; }

# Deeper mount points first, so /dev/pts goes before /dev and the root's
# bind onto itself comes last.
unmount_all() {
  local m
  for m in $(mounts_below "$root_dir" | sort -r); do
    umount "$m" 2>/dev/null || umount -l "$m" || true
  done
}

# Never delete a root while anything is still bound into it: that would reach
# this machine's own /dev and /sys.
remove_root() {
  unmount_all
  if [ -n "$(ls -A "$root_dir")" ] && [ ! -e "$root_dir/etc/debian_version" ] && [ ! -d "$root_dir/debootstrap" ]; then
    echo "$root_dir is neither empty nor a Debian root; not removing it" >&2
    exit 1
  fi
  if [ -n "$(mounts_below "$root_dir")" ]; then
    echo "still mounted below $root_dir; not removing it" >&2
    exit 1
  fi
  rm -rf --one-file-system "$root_dir"
  mkdir -p "$root_dir"
}

make_root() {
  # A fresh machine lacks it: installed here like every other package we need.
  command -v debootstrap >/dev/null ||
    apt-get install -y -o Acquire::Retries=5 --no-install-recommends debootstrap >/dev/null ||
    { apt-get update -o Acquire::Retries=5 >/dev/null && apt-get install -y -o Acquire::Retries=5 --no-install-recommends debootstrap >/dev/null; } ||
    { echo "debootstrap is missing and could not be installed (apt-get install debootstrap)" >&2; exit 1; }
  local mirror
  mirror=$(host_mirror)
  echo "debootstrap: $release (minbase) into $root_dir" >&2
  debootstrap --variant=minbase "$release" "$root_dir" "$mirror" >"$root_dir.debootstrap.log" 2>&1 || {
    tail -n 20 "$root_dir.debootstrap.log" >&2
    exit 1
  }
}

bind_system() {
  # The root on itself first: then / is a mount point inside, as on a real
  # system, and a private mount namespace can be made there (unshare -m).
  mount --bind "$root_dir" "$root_dir"
  mount --bind /proc "$root_dir/proc"
  mount --bind /dev "$root_dir/dev"
  mount --bind /dev/pts "$root_dir/dev/pts"
  # Shared memory of its own, so nothing lands under this machine's /dev/shm.
  mount -t tmpfs -o nosuid,nodev,mode=1777 shm "$root_dir/dev/shm"
  mount --bind /sys "$root_dir/sys"
  mount -o remount,bind,ro "$root_dir/sys"
}

# Tracked and untracked-but-not-ignored files, as a fresh clone plus the
# work in progress would have them; outside a git checkout (a copy made by
# this script, say) everything but the build folders and roots.
tree_files() {
  if git -C "$tree" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git -C "$tree" ls-files -z --cached --others --exclude-standard |
      while IFS= read -r -d '' f; do [ -e "$tree/$f" ] && printf '%s\0' "$f"; done
  else
    (cd "$tree" && find . -mindepth 1 \( -path './build*' -o -path ./.debian-root -o -name .git \) -prune \
                      -o \( -type f -o -type l \) -print0)
  fi
}

copy_tree() {
  local dest="$root_dir/root/spectrafox"
  mkdir -p "$dest"
  find "$dest" -mindepth 1 -maxdepth 1 ! -name 'build*' -exec rm -rf {} +
  tree_files | (cd "$tree" && tar --null -T - -cf -) | tar -C "$dest" -xf -
}

trap unmount_all EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

[ "$fresh" = yes ] && remove_root
[ -x "$root_dir/usr/bin/apt-get" ] || { remove_root; make_root; }
cp /etc/resolv.conf "$root_dir/etc/resolv.conf"
# The root trusts the certificate authorities this machine added locally (a
# proxy's, say), so npm inside reaches the registry as it does outside; the
# root's ca-certificates takes them in when it is installed or updated.
if [ -d /usr/local/share/ca-certificates ]; then
  mkdir -p "$root_dir/usr/local/share/ca-certificates"
  cp -r /usr/local/share/ca-certificates/. "$root_dir/usr/local/share/ca-certificates/"
  [ -x "$root_dir/usr/sbin/update-ca-certificates" ] && chroot "$root_dir" update-ca-certificates >/dev/null 2>&1 || true
fi
copy_tree
# Tests run the program as an ordinary user too (an unreadable file for root
# is none): the copy under /root must be reachable for that user.
chmod 755 "$root_dir/root"
bind_system
# A compiler cache of the release's own, kept outside the root so that a
# fresh root still finds the objects of the last run (ccache, where the
# command installs it, uses it; nothing else does).
cache_dir="${SPECTRAFOX_ROOT_CCACHE:-/var/cache/spectrafox/ccache-$release}"
mkdir -p "$cache_dir" "$root_dir/var/cache/ccache"
mount --bind "$cache_dir" "$root_dir/var/cache/ccache"
chroot "$root_dir" /usr/bin/env -i HOME=/root TERM=dumb LANG=C.UTF-8 CCACHE_DIR=/var/cache/ccache \
  PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
  /bin/bash -c 'cd /root/spectrafox && exec "$@"' bash "$@"
