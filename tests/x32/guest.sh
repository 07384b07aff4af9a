#!/bin/sh
# PID 1 of the test guest, started from the test disk by the initramfs of
# scripts/test-x32.sh: sets up what Wine and the tests need of a system, runs
# the tests, reports their status on the console and powers the guest off.
mkdir -p /dev/pts /dev/shm
mount -t devpts -o gid=5,mode=620,ptmxmode=666 devpts /dev/pts  # the tests' serial devices are ptys
mount -t tmpfs tmpfs /dev/shm
mount -t tmpfs tmpfs /tmp
mount -t tmpfs tmpfs /run
hostname corvel-x32
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LC_ALL=C.UTF-8
export PYTHONDONTWRITEBYTECODE=1  # the test disk is read-only

python3 /mnt/corvel/run_guest.py /mnt/corvel "$(cat /mnt/corvel/suites)"
status=$?
echo "corvel-x32: guest exit status $status"
sync
# As PID 1 this script must not end: the kernel would panic. Power off instead.
echo o > /proc/sysrq-trigger
sleep 30
