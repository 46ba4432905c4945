#!/bin/busybox sh
# The initramfs's init: the host's / read-only over 9p under a tmpfs overlay, the kernel's
# modules and the results folder shared beside it, then on to the init that /rig/init names.
/bin/busybox --install -s /bin
mkdir -p /proc /sys /dev /lower /rw /newroot
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
for m in $(cat /modules.order); do insmod "/modules/$m" || echo "rig: insmod $m failed"; done
nine="-t 9p -o trans=virtio,version=9p2000.L,msize=512000,cache=loose"
mount $nine,ro host /lower || { echo "rig: no host share"; poweroff -f; }
mount -t tmpfs -o size=768m tmpfs /rw
mkdir -p /rw/upper /rw/work
mount -t overlay overlay -o lowerdir=/lower,upperdir=/rw/upper,workdir=/rw/work /newroot
mkdir -p /newroot/lib/modules /newroot/rig
mount $nine,ro modules /newroot/lib/modules
mount -t 9p -o trans=virtio,version=9p2000.L,msize=512000 results /newroot/rig
# A fresh /run, and no container's marks from the host: systemd in a container ignores the
# kernel's command line.
mount -t tmpfs -o mode=755 tmpfs /newroot/run
rm -f /newroot/.dockerenv /newroot/.containerenv
# systemd empties /tmp at boot, and with it a tree checked out under /tmp that the cases run from.
mkdir -p /newroot/etc/tmpfiles.d
ln -sf /dev/null /newroot/etc/tmpfiles.d/tmp.conf
# The units the host wrote for this boot, where systemd looks for runtime units.
if [ -d /newroot/rig/units ]; then
  mkdir -p /newroot/run/systemd/system
  cp /newroot/rig/units/* /newroot/run/systemd/system/
  echo "rig: units $(ls /newroot/run/systemd/system)"
fi
for d in proc sys dev; do mount --move /$d /newroot/$d; done
next=$(cat /newroot/rig/init)
exec switch_root /newroot $next
