#!/usr/bin/env bash
# Runs a command inside a small virtual machine whose kernel executes 32-bit
# x86 programs, for machines whose own kernel cannot (the probe in
# scripts/wine-env.sh fails there): 32-bit Wine, the i686 test tree, the
# Inno Setup compiler and the 32-bit setup programs run in it.
#
#   scripts/run-i386.sh [--timeout SECONDS] -- COMMAND...
#
# The guest is QEMU in software emulation (no KVM needed) booting Debian's
# own amd64 kernel, taken from Debian's archive by package name (the package
# linux-image-amd64 depends on); that kernel has 32-bit emulation built in.
# A busybox initramfs loads virtio, 9p and overlay, mounts this machine's root
# read-only over 9p under a RAM overlay (the guest's writes there are dropped)
# and the current folder writable at the same path, and runs COMMAND there as
# root with the caller's exported environment and no standard input. Its
# output streams back; its status is this script's. Nothing is downloaded
# from anywhere but Debian's archive, through apt-get.
#
# Exit status: COMMAND's own; 124 when the timeout ended the VM; 125 when the
# VM could not run COMMAND (the reason is printed).
#
# The kernel and initramfs are kept in VINSTALL_VM_CACHE (default
# /var/tmp/vinstall-vm32) and reused. VINSTALL_VM_MEM (8G) and VINSTALL_VM_SMP
# (2) size the guest. The boot time (QEMU's start to the command's start) and
# the whole time are printed on standard error.
#
# Two facts the settings rest on (both seen on QEMU 7.2, Debian 12):
# - with SMAP on, QEMU's software emulation takes the user-mode IRET with
#   which Wine returns from its system calls for a supervisor access: the
#   guest kernel oopses and kills the process. Hence `-cpu max,-smap`.
# - the writable share is mounted with cache=loose: with cache=mmap, a
#   Windows program on it whose code section is larger than the 9p message
#   size (256 KiB) was read short and crashed under Wine.
set -euo pipefail

timeout=3600
while [ $# -gt 0 ]; do
  case "$1" in
    --timeout) [ $# -ge 2 ] || { echo "run-i386: --timeout needs a value" >&2; exit 2; }; timeout=$2; shift 2 ;;
    --) shift; break ;;
    -*) echo "run-i386: unknown option $1" >&2; exit 2 ;;
    *) break ;;
  esac
done
if [ $# -eq 0 ]; then
  echo "usage: $0 [--timeout SECONDS] -- COMMAND..." >&2
  exit 2
fi

cache=${VINSTALL_VM_CACHE:-/var/tmp/vinstall-vm32}
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo

fail() { echo "run-i386: the virtual machine cannot run: $*" >&2; exit 125; }

# What the VM is made of, from Debian's packages; once.
need=()
command -v qemu-system-x86_64 >/dev/null || need+=(qemu-system-x86)
# The static busybox: the initramfs has no libraries.
dpkg-query -W -f='${Status}' busybox-static 2>/dev/null | grep -q "install ok installed" || need+=(busybox-static)
command -v cpio >/dev/null || need+=(cpio)
if [ ${#need[@]} -gt 0 ]; then
  echo "run-i386: installing ${need[*]}" >&2
  $SUDO apt-get update -qq >/dev/null 2>&1 || true
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null ||
    fail "apt-get could not install ${need[*]}"
fi

# The guest's init: modules, the host's root read-only under a RAM overlay,
# the job folder and the caller's folder writable, then the command.
write_init() {
  cat <<'INIT'
#!/bin/busybox sh
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc; mount -t sysfs sys /sys; mount -t devtmpfs dev /dev
for m in $(cat /mod/order); do insmod /mod/$m.ko* || echo "insmod $m failed"; done
o=trans=virtio,version=9p2000.L,msize=262144
mount -t 9p -o $o,cache=mmap job /job || { echo "no job share"; poweroff -f; }
fail() { echo "$*" >>/job/guest-error; sync; poweroff -f; }
mount -t 9p -o $o,ro,cache=loose hostroot /lower || fail "cannot mount the host's root"
mount -t tmpfs -o mode=755 tmpfs /upper && mkdir /upper/u /upper/w
mount -t overlay -o lowerdir=/lower,upperdir=/upper/u,workdir=/upper/w ovl /newroot ||
  mount -o bind /lower /newroot || fail "no root file system"
R=/newroot
mount -t proc proc $R/proc; mount -t sysfs sys $R/sys; mount -t devtmpfs dev $R/dev
mkdir -p $R/dev/pts $R/dev/shm; mount -t devpts devpts $R/dev/pts; mount -t tmpfs shm $R/dev/shm
mount -t tmpfs -o mode=755 run $R/run; mkdir -p $R/run/vm32; mount -o bind /job $R/run/vm32
mount -t tmpfs -o mode=1777 tmp $R/tmp
cwd=$(cat /job/cwd)
mkdir -p "$R$cwd"; mount -t 9p -o $o,cache=loose work "$R$cwd" || fail "cannot mount $cwd"
ip link set lo up 2>/dev/null
date +%s.%N >/job/started
chroot $R /bin/bash /run/vm32/cmd.sh </dev/null >>/job/stdout 2>>/job/stderr
echo $? >/job/rc.tmp
sync; mv /job/rc.tmp /job/rc; sync
umount "$R$cwd" 2>/dev/null; poweroff -f
INIT
}

build_cache() {
  mkdir -p "$cache"
  cd "$cache"
  local pkg kver mods r=initrd.tmp
  pkg=$(apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-/{print $2; exit}')
  if [ -z "$pkg" ]; then
    $SUDO apt-get update -qq >&2 || true
    pkg=$(apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-/{print $2; exit}')
  fi
  [ -n "$pkg" ] || fail "Debian's archive names no kernel package for linux-image-amd64"
  ls "$pkg"_*.deb >/dev/null 2>&1 || (apt-get download -qq "$pkg" 2>&1 | grep -v '^W: Download is performed unsandboxed' >&2 || true) && ls "$pkg"_*.deb >/dev/null 2>&1 || fail "apt-get download $pkg failed"
  rm -rf kroot "$r"
  dpkg-deb -x "$pkg"_*.deb kroot || fail "cannot unpack $pkg"
  kver=${pkg#linux-image-}
  cp kroot/boot/vmlinuz-"$kver" vmlinuz.new
  mkdir -p "$r"/bin "$r"/dev "$r"/proc "$r"/sys "$r"/mod "$r"/lower "$r"/upper "$r"/newroot "$r"/job
  cp /bin/busybox "$r"/bin/busybox
  # In dependency order (each module's depends= in modinfo); all are
  # modules in Debian's kernel.
  mods="virtio_ring virtio virtio_pci_legacy_dev virtio_pci_modern_dev virtio_pci
        netfs fscache 9pnet 9pnet_virtio 9p overlay"
  for m in $mods; do
    f=$(find kroot/lib/modules/"$kver" -name "$m.ko*" | head -1)
    [ -n "$f" ] || fail "$pkg has no module $m"
    cp "$f" "$r"/mod/
  done
  echo $mods >"$r"/mod/order
  write_init >"$r"/init
  chmod +x "$r"/init
  (cd "$r" && find . | cpio -o -H newc --quiet | gzip -1) >initrd.gz.new
  rm -rf "$r" kroot
  mv initrd.gz.new initrd.gz
  mv vmlinuz.new vmlinuz
  echo "$pkg" >kernel-package
}
# A cache made by another version of this script is made again.
stamp=$(write_init | cksum | cut -d' ' -f1)
if [ ! -s "$cache/vmlinuz" ] || [ ! -s "$cache/initrd.gz" ] || [ "$(cat "$cache/init-stamp" 2>/dev/null)" != "$stamp" ]; then
  echo "run-i386: making the kernel and initramfs in $cache" >&2
  (build_cache)
  echo "$stamp" >"$cache/init-stamp"
fi

# The job: a folder shared with the guest.
mkdir -p "$cache/jobs"
job=$(mktemp -d "$cache/jobs/XXXXXX")
qpid=
cleanup() {
  local p
  for p in $(cat "$job/qemu.pid" 2>/dev/null) $qpid; do kill "$p" 2>/dev/null || true; done
  for p in $(cat "$job/qemu.pid" 2>/dev/null) $qpid; do kill -9 "$p" 2>/dev/null || true; done
  rm -rf "$job"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

cwd=$(pwd -P)
[ "$cwd" != / ] || fail "run it from a folder other than /"
printf '%s' "$cwd" >"$job/cwd"
# The caller's environment, less what bash sets for itself.
export -p | grep -Ev '^declare -[a-zA-Z-]* (BASH[A-Z_]*|SHELLOPTS|EUID|PPID|UID|SHLVL|OLDPWD|PWD|_)(=|$)' >"$job/env"
{ echo 'source /run/vm32/env'
  printf 'cd %q || exit 125\n' "$cwd"
  printf 'export PWD=%q VINSTALL_IN_VM=1\nexec' "$cwd"
  printf ' %q' "$@"
  echo
} >"$job/cmd.sh"
: >"$job/stdout"
: >"$job/stderr"

share9p() { echo "-virtfs local,path=$1,mount_tag=$2,security_model=passthrough,multidevs=remap${3:-}"; }
t0=$(date +%s.%N)
# shellcheck disable=SC2046
timeout -k 5 "$timeout" qemu-system-x86_64 -accel tcg,thread=multi -smp "${VINSTALL_VM_SMP:-2}" \
  -m "${VINSTALL_VM_MEM:-8G}" -cpu max,-smap -machine q35 -display none -no-reboot -nodefaults \
  -pidfile "$job/qemu.pid" -serial "file:$job/console.log" \
  -kernel "$cache/vmlinuz" -initrd "$cache/initrd.gz" \
  -append "console=ttyS0 quiet loglevel=3 panic=1 rdinit=/init" \
  $(share9p / hostroot ,readonly=on) $(share9p "$job" job) $(share9p "$cwd" work) \
  </dev/null >"$job/qemu.log" 2>&1 &
qpid=$!
# The guest's output, while it runs (each tail ends with qemu).
tail -q -n +1 -F --pid="$qpid" -s 0.3 "$job/stdout" 2>/dev/null &
t1=$!
tail -q -n +1 -F --pid="$qpid" -s 0.3 "$job/stderr" >&2 2>/dev/null &
t2=$!
tstart=
while kill -0 "$qpid" 2>/dev/null; do
  if [ -z "$tstart" ] && [ -e "$job/started" ]; then
    tstart=$(date +%s.%N)
    awk -v a="$t0" -v b="$tstart" 'BEGIN{printf "run-i386: the virtual machine booted in %.1f s\n", b-a}' >&2
  fi
  sleep 0.2
done
qrc=0
wait "$qpid" || qrc=$?
qpid=
wait "$t1" "$t2" 2>/dev/null || true
rm -f "$job/qemu.pid"
awk -v a="$t0" -v c="$(date +%s.%N)" 'BEGIN{printf "run-i386: %.1f s in the virtual machine in all\n", c-a}' >&2
if [ -e "$job/rc" ]; then
  exit "$(cat "$job/rc")"
fi
if [ "$qrc" = 124 ] || [ "$qrc" = 137 ]; then
  echo "run-i386: timed out after $timeout s: the virtual machine was ended" >&2
  exit 124
fi
{
  echo "run-i386: the virtual machine did not run the command (qemu's status $qrc)"
  cat "$job/guest-error" "$job/qemu.log" 2>/dev/null
  tail -20 "$job/console.log" 2>/dev/null
} >&2
exit 125
