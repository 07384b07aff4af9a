#!/usr/bin/env bash
# Runs corvel_x32.exe for real: this machine refuses 32-bit code, so the
# tests run in an emulated 64-bit Debian 12 guest (qemu, TCG) whose kernel
# has 32-bit emulation built in and whose Wine runs 32-bit programs in a
# 64-bit prefix. corvel_x64.exe runs beside it as the control. The same guest
# has a real USB serial device: Debian's generic kernel emulates a USB device
# controller wired to a host controller (dummy_hcd), a configfs gadget with a
# CDC ACM function plugs into it, and both executables are tested against the
# ttyACM port the kernel's cdc_acm driver makes of it.
#
#   scripts/test-x32.sh          build the guest image if not cached, boot it, run CI's share
#                                of the 32-bit checks, then the real-USB checks
#   scripts/test-x32.sh image    only make sure the guest image is built (CI starts this early)
#   scripts/test-x32.sh --full   the whole of the black-box suites, not CI's share of them
#   scripts/test-x32.sh --usb    only the real-USB checks (both executables)
#   scripts/test-x32.sh --usb-bench  the bridge's figures over the USB link and over a pty
#
# The guest image is made from Debian packages alone and cached under
# /var/cache/corvel-x32/<hash of the package list and kernel> (CORVEL_X32_CACHE
# overrides the folder), so a warm machine boots it without building. The
# executables and tests go in on a second, read-only disk; the guest's serial
# console brings the output and the exit status back. Needs the x32 and x64
# builds (scripts/build.sh). Exit status: that of the 32-bit checks (the
# guest's log, build/x32-guest/console.log, holds the USB checks' own status,
# which tests/x32/usb_status.sh reports), or with --usb and --usb-bench that of
# the USB run; 0 only when every check passed.
set -euo pipefail
cd "$(dirname "$0")/.."

mode=run
suites=ci
for argument in "$@"; do
  case "$argument" in
    image) mode=image ;;
    usb-status) mode=usb-status ;;
    --full) suites=full ;;
    --usb) suites=usb ;;
    --usb-bench) suites=usb-bench ;;
    *) echo "usage: $0 [image | usb-status] [--full | --usb | --usb-bench]" >&2; exit 64 ;;
  esac
done

# The USB checks' status from the log of the guest's last run (the ctest
# entry usb.guest, after x32.guest has run the guest).
log=build/x32-guest/console.log
if [ "$mode" = usb-status ]; then
  status=$(sed -n 's/^corvel-x32: usb status \([0-9]*\).*/\1/p' "$log" 2>/dev/null | tail -1)
  if [ -z "$status" ]; then
    echo "test-x32: no USB checks in $log; the guest run (ctest entry x32.guest) comes first" >&2
    exit 1
  fi
  # The USB steps' output, as the guest printed it.
  awk '/^corvel-x32: --- usb /, /^corvel-x32: usb \(.*\) (passed|FAILED) in/' "$log"
  grep '^corvel-x32: usb status' "$log"
  exit "$status"
fi

# kmod: depmod for the guest's module tree.
bash scripts/install-deps.sh qemu-system-x86 mmdebstrap busybox-static cpio kmod

# The guest's packages. wine32 from the i386 side brings the 32-bit loader;
# only the guest has i386 packages, this machine's apt stays amd64 alone.
# mount: the variant "apt" has only the essential packages, and the guest mounts devpts (its ptys), tmpfs.
# kmod: the guest loads the USB modules with modprobe.
guest_packages=wine,wine64,wine32:i386,python3,procps,mount,kmod
# The layout of what is cached; bumped when the image or the initramfs is made differently.
image_format=2
# Debian's generic kernel: the cloud kernel has no USB gadget or dummy_hcd
# modules. Its package is downloaded and unpacked for the guest, never
# installed here (this machine's boot hooks must not run for it).
kernel_package=$(apt-cache depends linux-image-amd64 | sed -n 's/^ *Depends: \(linux-image-[0-9][^ ]*\)$/\1/p' | head -1)
kernel_package_version=$(apt-cache policy "$kernel_package" | sed -n 's/^ *Candidate: //p')
if [ -z "$kernel_package" ] || [ -z "$kernel_package_version" ] || [ "$kernel_package_version" = "(none)" ]; then
  echo "test-x32: apt knows no linux-image-amd64 kernel; run apt-get update" >&2
  exit 1
fi
kernel_version=${kernel_package#linux-image-}
# What the real-USB checks load: the emulated controller pair, the gadget
# framework with its ACM and generic serial functions, the host's CDC ACM
# driver, the USB monitor.
usb_modules="dummy_hcd libcomposite usb_f_acm usb_f_serial cdc_acm usbmon"
key=$(printf '%s\n' "$image_format" bookworm "$guest_packages" "$kernel_package=$kernel_package_version" |
  sha256sum | cut -c1-16)
cache=${CORVEL_X32_CACHE:-/var/cache/corvel-x32}/$key

# The mirrors this machine's apt uses for Debian 12, as one-line sources.
debian_mirrors() {
  apt-get indextargets --format '$(REPO_URI) $(RELEASE) $(COMPONENT)' 'Identifier: Packages' |
    awk '$2 ~ /^bookworm(-updates|-security)?$/ { print "deb " $1 " " $2 " " $3 }' | sort -u
}

# Loads the modules the root disk needs (the generic kernel has virtio and
# ext4 as modules; load-order lists them with their dependencies, each after
# what it needs), mounts the root image and the test disk, and hands over to
# the test disk's guest script as PID 1.
write_init() {
  cat > "$1" <<'EOF'
#!/bin/busybox sh
/bin/busybox --install -s /bin
mkdir -p /proc /sys /dev /newroot
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
for module in $(cat /lib/modules/load-order); do
  insmod "/lib/modules/$module" || echo "init: $module did not load"
done
for tick in $(seq 100); do
  [ -b /dev/vda ] && [ -b /dev/vdb ] && break
  sleep 0.1
done
mount -t ext4 /dev/vda /newroot || { echo "init: no root disk"; poweroff -f; }
mkdir -p /newroot/mnt/corvel
mount -t ext4 -o ro /dev/vdb /newroot/mnt/corvel || { echo "init: no test disk"; poweroff -f; }
mount --move /dev /newroot/dev
mount --move /proc /newroot/proc
mount --move /sys /newroot/sys
exec switch_root /newroot /bin/sh /mnt/corvel/guest.sh
EOF
  chmod +x "$1"
}

build_image() {
  local work=$cache.building
  rm -rf "$work"
  mkdir -p "$work"
  local started=$SECONDS
  echo "test-x32: building the guest image in $cache"
  mapfile -t mirrors < <(debian_mirrors)
  if [ ${#mirrors[@]} -eq 0 ]; then
    echo "test-x32: this machine's apt names no Debian 12 mirror" >&2
    return 1
  fi
  mmdebstrap --variant=apt --architectures=amd64,i386 --include="$guest_packages" \
    --aptopt='Acquire::Retries "3"' bookworm "$work/root" "${mirrors[@]}" < /dev/null
  # No apt lists or downloaded packages: nothing in the guest installs.
  rm -rf "$work/root/var/lib/apt/lists/"* "$work/root/var/cache/apt/"*

  # The kernel package, unpacked beside the image and removed once used.
  local package=$work/package
  mkdir -p "$package"
  (cd "$work" && apt-get download -q "$kernel_package=$kernel_package_version" < /dev/null)
  dpkg-deb -x "$work/${kernel_package}_"*.deb "$package"
  rm -f "$work/${kernel_package}_"*.deb
  local modules=$package/lib/modules/$kernel_version
  depmod -b "$package" "$kernel_version"
  # The USB modules and all they need go into the root image with a depmod of
  # their own, so that the guest's modprobe finds them (/lib is /usr/lib there).
  local guest_modules=$work/root/usr/lib/modules/$kernel_version
  mkdir -p "$guest_modules"
  cp "$modules/modules.builtin" "$modules/modules.builtin.modinfo" "$modules/modules.order" \
    "$guest_modules/"
  python3 tests/x32/kernel_parts.py modules "$modules" $usb_modules > "$work/usb-modules"
  (cd "$modules" && xargs cp --parents -t "$guest_modules" < "$work/usb-modules")
  depmod -b "$work/root" "$kernel_version"
  rm "$work/usb-modules"

  local size_mb=$(( $(du -sm "$work/root" | cut -f1) + 1024 ))
  mke2fs -q -t ext4 -d "$work/root" -L corvel-root "$work/root.ext4" "${size_mb}M"
  dpkg-query --admindir="$work/root/var/lib/dpkg" -W -f='${Package}:${Architecture} ${Version}\n' \
    > "$work/packages.txt"
  rm -rf "$work/root"

  local initramfs=$work/initramfs
  mkdir -p "$initramfs/bin" "$initramfs/lib/modules"
  cp /bin/busybox "$initramfs/bin/busybox"
  python3 tests/x32/kernel_parts.py modules "$modules" virtio_pci virtio_blk crc32c_generic ext4 \
    > "$initramfs/lib/modules/load-order"
  (cd "$modules" && xargs cp --parents -t "$initramfs/lib/modules" < "$initramfs/lib/modules/load-order")
  write_init "$initramfs/init"
  (cd "$initramfs" && find . | cpio -o -H newc --quiet | gzip -1) > "$work/initramfs.gz"
  rm -rf "$initramfs"
  python3 tests/x32/kernel_parts.py vmlinux "$package/boot/vmlinuz-$kernel_version" "$work/vmlinux"
  rm -rf "$package"
  echo "$((SECONDS - started))" > "$work/build-seconds"
  rm -rf "$cache"
  mv "$work" "$cache"
  echo "test-x32: guest image built in $((SECONDS - started)) s ($(du -sh "$cache/root.ext4" | cut -f1)," \
    "$(wc -l < "$cache/packages.txt") packages)"
}

# Two runs that find no image build it one after the other, not side by side.
mkdir -p "$(dirname "$cache")"
exec 9> "$cache.lock"
flock 9
if [ -f "$cache/root.ext4" ]; then
  echo "test-x32: guest image cached in $cache (built in $(cat "$cache/build-seconds") s)"
else
  build_image
fi
flock -u 9
if [ "$mode" = image ]; then
  exit 0
fi

# --- The test disk: both executables, their test programs, the suites -----

for file in build/x32/corvel_x32.exe build/x64/corvel_x64.exe \
            build/x32/tests/win/corvel_win_tests.exe build/x64/tests/win/corvel_win_tests.exe; do
  if [ ! -f "$file" ]; then
    echo "test-x32: $file is missing; run scripts/build.sh first" >&2
    exit 1
  fi
done
run_dir=build/x32-guest
rm -rf "$run_dir"
payload=$run_dir/disk
mkdir -p "$payload/tests" "$payload/x32" "$payload/x64"
cp -r tests/wine "$payload/tests/wine"
cp tests/x32/guest.sh tests/x32/run_guest.py tests/x32/usb_bench.py "$payload/"
for arch in x32 x64; do
  cp "build/$arch/corvel_$arch.exe" "build/$arch/tests/corvel_test_host.exe" \
     "build/$arch/tests/win/corvel_win_tests.exe" "$payload/$arch/"
done
# corvel_x32.exe signed as a release signs it (Authenticode, SHA-256), with a
# throwaway self-signed certificate: the guest checks that the signed file
# answers as the unsigned one, which this machine cannot run.
signing=$run_dir/signing
mkdir -p "$signing"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=corvel guest test signer" \
  -keyout "$signing/key.pem" -out "$signing/cert.pem" 2> /dev/null
osslsigncode sign -certs "$signing/cert.pem" -key "$signing/key.pem" -h sha256 -n corvel \
  -in build/x32/corvel_x32.exe -out "$payload/x32/corvel_x32.signed.exe" > /dev/null
osslsigncode verify -in "$payload/x32/corvel_x32.signed.exe" -CAfile "$signing/cert.pem" > /dev/null
echo "$suites" > "$payload/suites"
mke2fs -q -t ext4 -d "$payload" -L corvel-tests "$run_dir/disk.ext4" 64M

# --- Boot and run -----------------------------------------------------------

echo "test-x32: booting the guest (console in $log)"
started=$SECONDS
# snapshot=on: the guest's writes go to a throwaway overlay, the cached image
# stays as built. Two vCPUs on the two cores; -no-reboot turns the guest's
# power-off (or a panic) into qemu's end.
timeout 2400 qemu-system-x86_64 -accel tcg,thread=multi -smp 2 -m 4096 \
  -kernel "$cache/vmlinux" -initrd "$cache/initramfs.gz" \
  -append "console=ttyS0 loglevel=3 panic=-1" \
  -drive "file=$cache/root.ext4,format=raw,if=virtio,snapshot=on" \
  -drive "file=$run_dir/disk.ext4,format=raw,if=virtio,readonly=on" \
  -display none -monitor none -serial stdio -no-reboot < /dev/null | tee "$log" || true
echo "test-x32: guest ran $((SECONDS - started)) s"

status=$(sed -n 's/^corvel-x32: guest exit status \([0-9]*\).*/\1/p' "$log" | tail -1)
if [ -z "$status" ]; then
  echo "test-x32: the guest ended without reporting a status" >&2
  exit 1
fi
if [ "$suites" = usb-bench ]; then
  sed -n 's/^corvel-usb-bench: //p' "$log" | tail -1 > "$run_dir/usb-bench.json"
fi
exit "$status"
