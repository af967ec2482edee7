#!/bin/bash
# run-wine-vm.sh [--cache DIR] [--prefix DIR] [--timeout SECONDS] [--memory MB] SCRIPT [ARG...]
#
# Runs SCRIPT (a path on this machine, run with this machine's bash) as root in a throw-away
# machine whose kernel has the ALSA sequencer, with this machine's whole root filesystem, so that
# Wine's winmm driver there talks to a real sequencer: a Debian bookworm kernel booted under qemu
# (software emulation) with the sequencer modules (snd-seq-dummy gives "Midi Through"), and this
# machine's root mounted read-only over virtio-9p. SCRIPT runs chrooted into that root, where
#   /tmp         is a tmpfs of the guest's own (Wine's server socket lives there),
#   /tmp/prefix  is the Wine prefix given by --prefix, as an overlay (read-only below, a tmpfs
#                above), so the guest can write to it and nothing reaches the host's copy,
# and every other path (the build trees among them) is this machine's, read-only.
#
# The kernel package is fetched once with apt into the cache folder, of which only the kernel
# image and the sound, 9p, virtio and overlay modules stay.
#
# Exit status: SCRIPT's; 77 when qemu cannot run on this machine (a test runner skips then);
# 124 when the guest ran out of time; 125 when it gave no result; 1 when it could not be prepared.
set -euo pipefail

CACHE=$PWD/wine-vm-cache
PREFIX=
TIMEOUT=480
MEMORY=2048
while [ $# -gt 0 ]; do
  case $1 in
    --cache) CACHE=$2; shift 2 ;;
    --prefix) PREFIX=$2; shift 2 ;;
    --timeout) TIMEOUT=$2; shift 2 ;;
    --memory) MEMORY=$2; shift 2 ;;
    --) shift; break ;;
    -*) echo "run-wine-vm: unknown option $1" >&2; exit 2 ;;
    *) break ;;
  esac
done
[ $# -ge 1 ] || { sed -n '2,19s/^# \{0,1\}//p' "$0" >&2; exit 2; }
SCRIPT=$(readlink -f "$1"); shift
[ -f "$SCRIPT" ] || { echo "run-wine-vm: no script $SCRIPT" >&2; exit 2; }
[ -z "$PREFIX" ] || PREFIX=$(readlink -f "$PREFIX")

T0=$(date +%s%N)
say() {
  local tenths=$((($(date +%s%N) - T0) / 100000000))
  printf '[run-wine-vm %3d.%ds] %s\n' $((tenths / 10)) $((tenths % 10)) "$*" >&2
}
fail() { say "$*"; exit 1; }

if ! command -v qemu-system-x86_64 >/dev/null || ! qemu-system-x86_64 -version >/dev/null 2>&1; then
  echo "run-wine-vm: qemu-system-x86_64 cannot run here (package qemu-system-x86); skipped" >&2
  exit 77
fi

# The kernel, extracted (not installed) into the cache; one preparer at a time.
mkdir -p "$CACHE/apt/partial"
CACHE=$(readlink -f "$CACHE")
G=$CACHE/guest
APT=(-q -o Dir::Cache::archives="$CACHE/apt" -o APT::Sandbox::User=root)
exec 9>"$CACHE/lock"
flock 9
if [ ! -f "$G/ready" ]; then
  say "fetching the kernel and busybox into $CACHE"
  KPKG=$(apt-cache depends linux-image-amd64 2>/dev/null |
    awk '/Depends: linux-image-[0-9]/ { print $2; exit }')
  [ -n "$KPKG" ] || fail "no kernel package known to apt (apt-get update as root)"
  if ! (cd "$CACHE/apt" && apt-get "${APT[@]}" download "$KPKG" busybox-static >/dev/null) &&
    [ "$(id -u)" = 0 ]; then
    apt-get "${APT[@]}" update >/dev/null || true
    (cd "$CACHE/apt" && apt-get "${APT[@]}" download "$KPKG" busybox-static >/dev/null) || true
  fi
  ls "$CACHE/apt/$KPKG"_*.deb "$CACHE/apt"/busybox-static_*.deb >/dev/null 2>&1 ||
    fail "cannot download $KPKG and busybox-static with apt"
  rm -rf "$G"
  mkdir -p "$G"
  dpkg-deb --fsys-tarfile "$CACHE/apt/$KPKG"_*.deb |
    tar -x -C "$G" --wildcards './boot/vmlinuz-*' './lib/modules/*/kernel/sound/*' \
      './lib/modules/*/kernel/fs/9p/*' './lib/modules/*/kernel/net/9p/*' \
      './lib/modules/*/kernel/fs/netfs/*' './lib/modules/*/kernel/fs/fscache/*' \
      './lib/modules/*/kernel/drivers/virtio/*' './lib/modules/*/kernel/fs/overlayfs/*' \
      './lib/modules/*/modules.*'
  dpkg-deb --fsys-tarfile "$CACHE/apt"/busybox-static_*.deb | tar -x -C "$G" ./bin/busybox
  KV=$(ls "$G/lib/modules")
  echo "$KV" >"$G/kver"
  find "$G/lib/modules" -name '*.ko.xz' -exec xz -d {} +
  "$G/bin/busybox" depmod -b "$G" "$KV"
  # Emulated, the kernel takes ~12 s to decompress itself; the plain image boots at once (PVH).
  for unpack in "xz -dc:\xFD7zXZ\x00" "zstd -dc:\x28\xB5\x2F\xFD" "gzip -dc:\x1F\x8B\x08"; do
    at=$(LC_ALL=C grep -obUaP "${unpack#*:}" "$G/boot/vmlinuz-$KV" | head -1 | cut -d: -f1)
    [ -n "$at" ] || continue
    tail -c +$((at + 1)) "$G/boot/vmlinuz-$KV" | ${unpack%%:*} 2>/dev/null >"$G/boot/vmlinux" || true
    [ "$(head -c 4 "$G/boot/vmlinux" | tail -c 3)" = ELF ] && break
    rm -f "$G/boot/vmlinux"
  done
  rm -f "$CACHE/apt"/*.deb
  touch "$G/ready"
fi
flock -u 9
KV=$(cat "$G/kver")
KERNEL=$G/boot/vmlinux
[ -f "$KERNEL" ] || KERNEL=$G/boot/vmlinuz-$KV
BB=$G/bin/busybox

# The initramfs: busybox, the modules and what they need, and an init that mounts this machine's
# root and runs the script in it.
W=$(mktemp -d "${TMPDIR:-/tmp}/run-wine-vm.XXXXXX")
trap 'rm -rf "$W"' EXIT
R=$W/root
MODULES="snd-seq-dummy snd-virmidi virtio_pci 9pnet_virtio 9p overlay"
mkdir -p "$R"/{bin,sbin,proc,sys,dev,tmp,host,hosttmp,lib/modules/"$KV"}
cp "$BB" "$R/bin/busybox"
for f in $(awk -v want="$MODULES" '
    BEGIN { n = split(want, w, " "); for (i = 1; i <= n; i++) { x = w[i]; gsub(/_/, "-", x); W[x] = 1 } }
    { f = $1; sub(/:$/, "", f); b = f; sub(/.*\//, "", b); sub(/\.ko.*$/, "", b); gsub(/_/, "-", b)
      if (b in W) for (i = 1; i <= NF; i++) { x = $i; sub(/:$/, "", x); print x } }' \
    "$G/lib/modules/$KV/modules.dep" | sort -u); do
  mkdir -p "$R/lib/modules/$KV/$(dirname "$f")"
  cp "$G/lib/modules/$KV/$f" "$R/lib/modules/$KV/$f"
done
cp "$G/lib/modules/$KV"/modules.{order,builtin,builtin.modinfo} "$R/lib/modules/$KV/"
"$BB" depmod -b "$R" "$KV"
ARGS=$(printf ' %q' "$@")
OVERLAY=
if [ -n "$PREFIX" ]; then
  OVERLAY="mkdir -p /host/tmp/ovl/upper /host/tmp/ovl/work /host/tmp/prefix
mount -t overlay overlay -o lowerdir=/host$PREFIX,upperdir=/host/tmp/ovl/upper,workdir=/host/tmp/ovl/work /host/tmp/prefix ||
  { echo 'overlay mount failed'; echo '@@WINE-VM-EXIT=125@@'; poweroff -f; }"
fi
cat >"$R/init" <<INIT
#!/bin/busybox sh
/bin/busybox --install -s /bin; ln -s /bin/modprobe /sbin/modprobe
mount -t proc proc /proc; mount -t sysfs sys /sys; mount -t devtmpfs dev /dev
exec </dev/console >/dev/console 2>&1
(sleep $((TIMEOUT - 15)); echo '@@WINE-VM-EXIT=124@@ guest watchdog'; poweroff -f) &
for m in snd-seq-dummy virtio_pci 9pnet_virtio 9p overlay; do modprobe \$m || echo "modprobe \$m failed"; done
mount -t 9p -o trans=virtio,version=9p2000.L,ro,cache=loose,msize=512000 hostroot /host ||
  { echo 'mount 9p failed'; echo '@@WINE-VM-EXIT=125@@'; poweroff -f; }
mount -t tmpfs -o size=1g tmp /host/tmp
$OVERLAY
mount -t proc proc /host/proc; mount -t sysfs sys /host/sys; mount -t devtmpfs dev /host/dev
mkdir -p /host/dev/shm /host/dev/pts /host/tmp/home
mount -t tmpfs shm /host/dev/shm; mount -t devpts devpts /host/dev/pts
mount -t tmpfs run /host/run; mount -t tmpfs root /host/root
echo "guest: up after \$(cut -d' ' -f1 /proc/uptime)s; /dev/snd: \$(ls /dev/snd | tr '\n' ' ')"
chroot /host /usr/bin/env -i PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin HOME=/tmp/home \
  TMPDIR=/tmp /bin/bash $SCRIPT$ARGS
rc=\$?
echo "@@WINE-VM-EXIT=\$rc@@ after \$(cut -d' ' -f1 /proc/uptime)s"
poweroff -f
INIT
chmod +x "$R/init"
(cd "$R" && find . | "$BB" cpio -o -H newc -R 0:0 2>/dev/null) >"$W/initrd.cpio"
say "initramfs $(du -k "$W/initrd.cpio" | cut -f1) KiB; booting $KV under qemu"

# Emulated (nested KVM here boots no kernel). -cpu max alone makes every Wine process fault at its
# first return to user mode under qemu 7.2; without SMAP it runs.
set +e
timeout "$TIMEOUT" qemu-system-x86_64 -accel tcg -cpu max,-smap -m "$MEMORY" -smp 2 \
  -display none -monitor none -serial stdio -no-reboot -kernel "$KERNEL" -initrd "$W/initrd.cpio" \
  -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap \
  -append "console=ttyS0 panic=-1 quiet loglevel=3 mitigations=off" \
  </dev/null 2>&1 | tee "$W/console.log"
QEMU=${PIPESTATUS[0]}
set -e
RC=$(sed -n 's/.*@@WINE-VM-EXIT=\([0-9]*\)@@.*/\1/p' "$W/console.log" | tail -1)
if [ -z "$RC" ]; then
  if [ "$QEMU" = 124 ]; then RC=124; else RC=125; fi
  say "the guest gave no result (qemu exit status $QEMU)"
fi
say "guest finished: exit status $RC"
exit "$RC"
