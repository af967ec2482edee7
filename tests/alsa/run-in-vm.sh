#!/bin/bash
# run-in-vm.sh [--cache DIR] [--timeout SECONDS] [--memory MB] [--env NAME=VALUE]... [--keep]
#              [--modules 'MODULE[:PARAM=VALUE,...] ...'] [--usb-midi] SCRIPT [FILE...]
# run-in-vm.sh --host-root [--prefix DIR] [other options as above] SCRIPT [ARG...]
#
# Runs SCRIPT as root in a throw-away machine whose kernel has the ALSA sequencer: a Debian
# bookworm kernel booted under qemu (software emulation, no KVM needed) from an initramfs that
# holds busybox, the sequencer modules (snd-seq-dummy gives "Midi Through", snd-virmidi a raw MIDI
# port bridged to the sequencer), SCRIPT and every FILE in /test, and the shared libraries the
# programs among them need, taken from this machine. SCRIPT runs under busybox sh in /test, with
# /test first on PATH and each --env variable exported (and the caller's *SAN_OPTIONS).
#
# With --host-root the guest mounts this machine's whole root read-only over virtio-9p instead,
# and SCRIPT (a path here) runs with this machine's bash, chrooted into that root, with ARGs and
# the --env variables, where
#   /tmp         is this machine's /tmp with a tmpfs of the guest's own above it, so the guest
#                writes there (Wine's server socket lives there) and nothing reaches the host,
#   /tmp/prefix  is the Wine prefix given by --prefix, as an overlay (read-only below, a tmpfs
#                above), so the guest can write to it and nothing reaches the host's copy,
# and every other path (the build trees among them) is this machine's, read-only.
#
# --modules loads more of the kernel's modules at boot, with their parameters, before SCRIPT runs
# (with --host-root nothing can be loaded later: this machine's /lib/modules is not the guest's).
#
# --usb-midi gives the guest a USB MIDI unit as an owner's machine has one: the kernel's USB-MIDI
# driver (snd-usb-audio) bound to a real USB device, a MIDI gadget (libcomposite, usb_f_midi) on
# the emulated USB controller (dummy_hcd) of the same kernel. The device is 1209:0001, product
# "TELVOR Q9", so the host side gets the card "TELVOR Q9" with the sequencer client "TELVOR Q9";
# the gadget's own side is the card "f_midi" (client "f_midi"), where a virtual unit is connected
# (q9-unit's "MIDI In" from f_midi's port, its "MIDI Out" to it). The gadget is built and plugged
# in before SCRIPT runs, which finds it in $KV5_USB_GADGET (its configfs folder; a second
# controller, dummy_udc.1, is free for a second gadget beside it):
#   echo >"$KV5_USB_GADGET/UDC"                            pulls the cable (both cards go)
#   ls /sys/class/udc | head -n 1 >"$KV5_USB_GADGET/UDC"   plugs it in again (~1 s until the
#                                                          cards' sequencer clients are back)
# The sequencer's MIDI module (snd-seq-midi) takes 64 KiB input buffers here: the gadget side
# hands a whole USB burst to its input at once and would cut messages over 4096 bytes. Its output
# buffers keep the kernel's default (4096 bytes), as on an owner's machine.
#
# The kernel and busybox packages are fetched once with apt and kept in the cache folder
# (default ./alsa-vm-cache), of which only the kernel image and its sound, 9p, virtio, overlay,
# configfs and USB modules stay (~190 MB).
#
# Exit status: SCRIPT's; 77 when qemu cannot run on this machine (a test runner skips then);
# 124 when the guest ran out of time; 125 when it gave no result (it did not boot); 1 when the
# guest could not be prepared.
set -euo pipefail

CACHE=$PWD/alsa-vm-cache
TIMEOUT=600
MEMORY=1024
KEEP=
EXTRA_MODULES=
USBMIDI=
HOSTROOT=
PREFIX=
ENVS=()
while [ $# -gt 0 ]; do
  case $1 in
    --cache) CACHE=$2; shift 2 ;;
    --timeout) TIMEOUT=$2; shift 2 ;;
    --memory) MEMORY=$2; shift 2 ;;
    --env)
      case $2 in
        *\'* | =*) echo "run-in-vm: --env NAME=VALUE, without quotes" >&2; exit 2 ;;
        *=*) ENVS+=("$2") ;;
        *) echo "run-in-vm: --env NAME=VALUE" >&2; exit 2 ;;
      esac
      shift 2 ;;
    --keep) KEEP=1; shift ;;
    --modules) EXTRA_MODULES="$EXTRA_MODULES $2"; shift 2 ;;
    --usb-midi) USBMIDI=1; shift ;;
    --host-root) HOSTROOT=1; shift ;;
    --prefix) HOSTROOT=1; PREFIX=$(readlink -f "$2"); shift 2 ;;
    --) shift; break ;;
    -*) echo "run-in-vm: unknown option $1" >&2; exit 2 ;;
    *) break ;;
  esac
done
[ $# -ge 1 ] || { sed -n '2,47s/^# \{0,1\}//p' "$0" >&2; exit 2; }
SCRIPT=$(readlink -f "$1"); shift
[ -f "$SCRIPT" ] || { echo "run-in-vm: no script $SCRIPT" >&2; exit 2; }
[ "$TIMEOUT" -ge 60 ] || TIMEOUT=60
if [ -n "$HOSTROOT" ]; then
  MODULES="snd-seq-dummy virtio_pci 9pnet_virtio 9p overlay"
else
  MODULES="snd-seq-dummy snd-virmidi"
fi
# snd-usb-audio needs the media controller (mc), which modules.dep does not name for it.
[ -z "$USBMIDI" ] || MODULES="$MODULES configfs dummy_hcd:num=2 libcomposite usb_f_midi mc
  snd-usb-audio snd-seq-midi:input_buffer_size=65536"
MODULES="$MODULES $EXTRA_MODULES"

T0=$(date +%s%N)
say() {
  local tenths=$((($(date +%s%N) - T0) / 100000000))
  printf '[run-in-vm %3d.%ds] %s\n' $((tenths / 10)) $((tenths % 10)) "$*" >&2
}
fail() { say "$*"; exit 1; }

# 1. qemu on this machine; without it the test cannot run here at all.
if ! command -v qemu-system-x86_64 >/dev/null || ! qemu-system-x86_64 -version >/dev/null 2>&1; then
  echo "run-in-vm: qemu-system-x86_64 cannot run here (package qemu-system-x86); skipped" >&2
  exit 77
fi

# 2. Kernel and busybox, extracted (not installed) into the cache; one preparer at a time.
mkdir -p "$CACHE/apt/partial"
CACHE=$(readlink -f "$CACHE")
G=$CACHE/guest
APT=(-q -o Dir::Cache::archives="$CACHE/apt" -o APT::Sandbox::User=root)
exec 9>"$CACHE/lock"
flock 9
if [ ! -f "$G/extracted-usb" ]; then
  say "fetching the kernel and busybox into $CACHE"
  kernel_package() {
    apt-cache depends linux-image-amd64 2>/dev/null |
      awk '/Depends: linux-image-[0-9]/ { print $2; exit }'
  }
  download() {
    KPKG=$(kernel_package)
    [ -n "$KPKG" ] &&
      (cd "$CACHE/apt" && apt-get "${APT[@]}" download "$KPKG" busybox-static >/dev/null)
  }
  # Package lists that are missing or older than the mirror are renewed once (as root).
  if ! download && [ "$(id -u)" = 0 ]; then
    apt-get "${APT[@]}" update >/dev/null || true
    download || true
  fi
  ls "$CACHE/apt/${KPKG:-none}"_*.deb "$CACHE/apt"/busybox-static_*.deb >/dev/null 2>&1 ||
    fail "cannot download linux-image-amd64 and busybox-static with apt (apt-get update as root)"
  rm -rf "$G"
  mkdir -p "$G"
  # Only the kernel image, the modules of the sound, of a host root over 9p, of an overlay and of
  # USB and its gadgets, and the module indexes: ~20 MB of the 400 MB.
  dpkg-deb --fsys-tarfile "$CACHE/apt/${KPKG}"_*.deb |
    tar -x -C "$G" --wildcards './boot/vmlinuz-*' './lib/modules/*/kernel/sound/*' \
      './lib/modules/*/kernel/fs/9p/*' './lib/modules/*/kernel/net/9p/*' \
      './lib/modules/*/kernel/fs/netfs/*' './lib/modules/*/kernel/fs/fscache/*' \
      './lib/modules/*/kernel/drivers/virtio/*' './lib/modules/*/kernel/fs/overlayfs/*' \
      './lib/modules/*/kernel/drivers/usb/core/*' './lib/modules/*/kernel/drivers/usb/common/*' \
      './lib/modules/*/kernel/drivers/usb/gadget/*' './lib/modules/*/kernel/drivers/usb/roles/*' \
      './lib/modules/*/kernel/fs/configfs/*' './lib/modules/*/kernel/drivers/media/mc/*' \
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
  rm -f "$CACHE/apt/${KPKG}"_*.deb
  touch "$G/extracted-usb"
fi
flock -u 9
KV=$(cat "$G/kver")
BB=$G/bin/busybox
KERNEL=$G/boot/vmlinux
[ -f "$KERNEL" ] || KERNEL=$G/boot/vmlinuz-$KV

# 3. The initramfs: busybox, the modules asked for and what they need, the files, their libraries.
W=$(mktemp -d "${TMPDIR:-/tmp}/run-in-vm.XXXXXX")
if [ -n "$KEEP" ]; then say "keeping $W"; else trap 'rm -rf "$W"' EXIT; fi
R=$W/root
mkdir -p "$R"/{bin,sbin,proc,sys,dev,tmp,etc,test,host,lib/modules/"$KV",usr/share/alsa}
cp "$BB" "$R/bin/busybox"
for f in $(awk -v want="$MODULES" '
    BEGIN { n = split(want, w, " "); for (i = 1; i <= n; i++) { x = w[i]; sub(/:.*/, "", x); gsub(/_/, "-", x); W[x] = 1 } }
    { f = $1; sub(/:$/, "", f); b = f; sub(/.*\//, "", b); sub(/\.ko.*$/, "", b); gsub(/_/, "-", b)
      if (b in W) for (i = 1; i <= NF; i++) { x = $i; sub(/:$/, "", x); print x } }' \
    "$G/lib/modules/$KV/modules.dep" | sort -u); do
  mkdir -p "$R/lib/modules/$KV/$(dirname "$f")"
  cp "$G/lib/modules/$KV/$f" "$R/lib/modules/$KV/$f"
done
cp "$G/lib/modules/$KV"/modules.{order,builtin,builtin.modinfo} "$R/lib/modules/$KV/"
"$BB" depmod -b "$R" "$KV"
# alsa-lib finds the sequencer through its configuration.
cp -a /usr/share/alsa/alsa.conf /usr/share/alsa/alsa.conf.d "$R/usr/share/alsa/" 2>/dev/null || true
FILES=("$@")
if [ -n "$HOSTROOT" ]; then
  FILES=()  # the script and its arguments are on the host root
else
  cp "$SCRIPT" "$R/test/"
fi
for file in "${FILES[@]+"${FILES[@]}"}"; do
  [ -f "$file" ] || fail "no file $file"
  cp -L "$file" "$R/test/"
  if [ "$(head -c 4 "$file" | tr -d '\0' | tail -c 3)" = ELF ]; then
    for lib in $(ldd "$file" 2>/dev/null | awk '/=> \// { print $3 } /^\t\/[^ ]+ \(/ { print $1 }'); do
      [ -e "$R$lib" ] || { mkdir -p "$R$(dirname "$lib")"; cp -L "$lib" "$R$lib"; }
    done
  fi
done
# A suppressions file named in the caller's sanitizer settings goes to the same path in the guest.
for v in ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS TSAN_OPTIONS; do
  list=$(printf '%s' "${!v:-}" | sed -n 's/.*suppressions=\([^:]*\).*/\1/p')
  if [ -n "$list" ] && [ -f "$list" ]; then
    mkdir -p "$R$(dirname "$list")"
    cp -L "$list" "$R$list"
  fi
done
[ -e "$R/lib64" ] || ln -s lib "$R/lib64"
{
  echo '#!/bin/busybox sh'
  echo '/bin/busybox --install -s /bin; ln -s /bin/modprobe /sbin/modprobe'
  echo 'mount -t proc proc /proc; mount -t sysfs sys /sys; mount -t devtmpfs dev /dev'
  echo 'exec </dev/console >/dev/console 2>&1'
  echo "(sleep $((TIMEOUT - 20)); echo '@@RUN-IN-VM-EXIT=124@@ guest watchdog'; poweroff -f) &"
  for m in $MODULES; do
    case $m in
      snd-virmidi) echo "modprobe $m midi_devs=1 || echo 'modprobe $m failed'" ;;
      *:*) echo "modprobe ${m%%:*} $(echo "${m#*:}" | tr , ' ') || echo 'modprobe ${m%%:*} failed'" ;;
      *) echo "modprobe $m || echo 'modprobe $m failed'" ;;
    esac
  done
  echo 'export PATH=/test:/bin:/sbin HOME=/tmp TMPDIR=/tmp'
  # Sanitizer settings of the caller (a test preset's) hold in the guest as well.
  for v in ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS TSAN_OPTIONS; do
    [ -z "${!v:-}" ] || case ${!v} in *\'*) ;; *) printf "export %s='%s'\n" "$v" "${!v}" ;; esac
  done
  for e in "${ENVS[@]+"${ENVS[@]}"}"; do printf "export %s='%s'\n" "${e%%=*}" "${e#*=}"; done
  if [ -n "$HOSTROOT" ]; then
    given() { echo "$1 || { echo '$2 failed'; echo '@@RUN-IN-VM-EXIT=125@@'; poweroff -f; }"; }
    given 'mount -t 9p -o trans=virtio,version=9p2000.L,ro,cache=loose,msize=512000 hostroot /host' \
      'mount 9p'
    # /tmp is this machine's /tmp with the guest's writes on a tmpfs above it: the checkout, its
    # builds and the prefix may live under /tmp too, and stay visible.
    echo 'mkdir -p /scratch && mount -t tmpfs -o size=1g scratch /scratch'
    echo 'mkdir -p /scratch/tmp/upper /scratch/tmp/work /scratch/ovl/upper /scratch/ovl/work'
    given 'mount -t overlay overlay -o lowerdir=/host/tmp,upperdir=/scratch/tmp/upper,workdir=/scratch/tmp/work /host/tmp' \
      'tmp overlay mount'
    if [ -n "$PREFIX" ]; then
      echo 'mkdir -p /host/tmp/prefix'
      layers=lowerdir=/host$PREFIX,upperdir=/scratch/ovl/upper,workdir=/scratch/ovl/work
      given "mount -t overlay overlay -o $layers /host/tmp/prefix" 'overlay mount'
    fi
    echo 'mount -t proc proc /host/proc; mount -t sysfs sys /host/sys; mount -t devtmpfs dev /host/dev'
    echo 'mkdir -p /host/dev/shm /host/dev/pts /host/tmp/home'
    echo 'mount -t tmpfs shm /host/dev/shm; mount -t devpts devpts /host/dev/pts'
    echo 'mount -t tmpfs run /host/run; mount -t tmpfs root /host/root'
  fi
  if [ -n "$USBMIDI" ]; then
    # The USB MIDI gadget, plugged into the emulated controller; then both cards' clients.
    echo 'G=/sys/kernel/config/usb_gadget/q9'
    echo 'mount -t configfs none /sys/kernel/config && mkdir $G && cd $G &&'
    echo '  echo 0x1209 >idVendor && echo 0x0001 >idProduct && echo 0x0200 >bcdUSB &&'
    echo '  echo 0x0100 >bcdDevice && mkdir strings/0x409 && echo TELVOR >strings/0x409/manufacturer &&'
    echo '  echo "TELVOR Q9" >strings/0x409/product && echo 0001 >strings/0x409/serialnumber &&'
    echo '  mkdir -p configs/c.1/strings/0x409 && echo MIDI >configs/c.1/strings/0x409/configuration &&'
    echo '  mkdir functions/midi.usb0 && echo 1 >functions/midi.usb0/in_ports &&'
    echo '  echo 1 >functions/midi.usb0/out_ports && ln -s functions/midi.usb0 configs/c.1/ &&'
    echo '  ls /sys/class/udc | head -n 1 >UDC || echo "the USB MIDI gadget could not be made"'
    echo 'cd /; i=0'
    echo 'until grep -q "\"TELVOR Q9\"" /proc/asound/seq/clients && grep -q "\"f_midi\"" /proc/asound/seq/clients; do'
    echo '  i=$((i + 1)); [ $i -le 600 ] || { echo "no USB MIDI card after 60 s"; break; }; usleep 100000'
    echo 'done'
    echo 'echo "guest: USB MIDI unit plugged in after $(cut -d" " -f1 /proc/uptime)s"'
    echo 'export KV5_USB_GADGET=$G'
    [ -z "$HOSTROOT" ] || echo 'mount -t configfs none /host/sys/kernel/config'
  fi
  echo 'echo "guest: up after $(cut -d" " -f1 /proc/uptime)s; /dev/snd: $(ls /dev/snd | tr "\n" " ")"'
  if [ -n "$HOSTROOT" ]; then
    # The script sees only these variables (and the --env ones), not the initramfs' exports.
    printf 'chroot /host /usr/bin/env -i PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin \\\n'
    printf '  HOME=/tmp/home TMPDIR=/tmp'
    [ -z "$USBMIDI" ] || printf ' KV5_USB_GADGET=/sys/kernel/config/usb_gadget/q9'
    for e in "${ENVS[@]+"${ENVS[@]}"}"; do printf " '%s'" "$e"; done
    printf ' /bin/bash%s; rc=$?\n' "$(printf ' %q' "$SCRIPT" "$@")"
  else
    echo "cd /test; sh /test/$(basename "$SCRIPT"); rc=\$?"
  fi
  echo 'echo "@@RUN-IN-VM-EXIT=$rc@@ after $(cut -d" " -f1 /proc/uptime)s"'
  echo 'poweroff -f'
} >"$R/init"
chmod +x "$R/init"
(cd "$R" && find . | "$BB" cpio -o -H newc -R 0:0 2>/dev/null) >"$W/initrd.cpio"
say "initramfs $(du -k "$W/initrd.cpio" | cut -f1) KiB; booting $KV under qemu (TCG)"

# 4. Boot; the serial console goes to stdout and the log, the exit status comes from its marker.
# With this machine's root: the root over virtio-9p, and no SMAP (-cpu max alone makes every Wine
# process fault at its first return to user mode under qemu 7.2).
QEMU_ARGS=(-cpu max)
[ -z "$HOSTROOT" ] || QEMU_ARGS=(-cpu max,-smap
  -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap)
set +e
timeout "$TIMEOUT" qemu-system-x86_64 -accel tcg "${QEMU_ARGS[@]}" -m "$MEMORY" -smp 2 \
  -display none -monitor none -serial stdio -no-reboot -kernel "$KERNEL" -initrd "$W/initrd.cpio" \
  -append "console=ttyS0 panic=-1 quiet loglevel=3 mitigations=off" \
  </dev/null 2>&1 | tee "$W/console.log"
QEMU=${PIPESTATUS[0]}
set -e
RC=$(sed -n 's/.*@@RUN-IN-VM-EXIT=\([0-9]*\)@@.*/\1/p' "$W/console.log" | tail -1)
if [ -z "$RC" ]; then
  if [ "$QEMU" = 124 ]; then RC=124; else RC=125; fi
  say "the guest gave no result (qemu exit status $QEMU)"
fi
say "guest finished: exit status $RC"
exit "$RC"
