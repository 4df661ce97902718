# SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
# SPDX-License-Identifier: GPL-2.0-or-later
# Cases of clikauth-test.sh: set-module and set-xorg through the real helper.

# The NVIDIA desktop used below: a GTX 1060 on bus 0b (above 9: the helper writes the bus in
# decimal) on nouveau, with Debian's NVIDIA modules as dkms installs them (nvidia-current.ko,
# which declares "nvidia", found for libhd's nvidia_current), X drivers nvidia and modesetting
# installed, and the X server running NVIDIA's driver.
NVIDIA_DESKTOP=(
    --gpu 0000:0b:00.0,10de,1c03,030000,nouveau,1043,85bf
    --alias 'pci:v000010DEd*sv*sd*bc03sc*i* nouveau'
    --module kernel/drivers/gpu/drm/nouveau/nouveau.ko=nouveau
    --debian-nvidia
    --drm 0000:0b:00.0
    --xlog 'root=[    20.123] (II) NVIDIA(0): Setting mode "DFP-0:nvidia-auto-select"\n'
    --xorg 1:modesetting_drv.so --xorg 3:nvidia_drv.so
)

# ---------------------------------------------------------------------------------------------
# A switch to the listed module nvidia (nvidia_current): no X driver bears the module's own
# name, so the one of its declared name is written, "nvidia". The Device section names the adapter by its PCI database name
# (not libhd's "nVidia GP106 ..."), has no Module section although the adapter is NVIDIA (the
# tool sends no vendor), and the first request takes the backup of both folders, older snippet
# included, before that snippet is deleted. The second request, chosen by model name, rewrites
# the whole file and takes no new backup. A driver without an X driver file is refused by the
# helper, whose reason reaches the log line; so is every request of an unprivileged caller.
# Neither changes anything.
cat >"$WORK/switch.expected" <<'EOF'
$ set-module PCI:0b@0000:00:0 nvidia
[exit 0]
--- /etc/X11/xorg.conf.d/20-vela-admin-video-driver.conf
Section "Device"
    Identifier "GP106 [GeForce GTX 1060 6GB]"
    Driver "nvidia"
    BusID "PCI:11@0000:00:0"
    Option "AllowEmptyInitialConfiguration"
EndSection

[end of /etc/X11/xorg.conf.d/20-vela-admin-video-driver.conf]
--- tree /etc/X11/xorg.conf.d
10-keyboard.conf
20-vela-admin-video-driver.conf
--- tree /usr/share/vela-admin-video-driver
<date>/
<date>/modprobe.d/
<date>/modprobe.d/blacklist-fixture.conf
<date>/xorg.conf.d/
<date>/xorg.conf.d/10-keyboard.conf
<date>/xorg.conf.d/20-vela-admin-driver.conf
latest
modprobe.d
xorg.conf.d
--- /usr/share/vela-admin-video-driver/xorg.conf.d/20-vela-admin-driver.conf
Section "Device"
    Identifier "older"
EndSection
[end of /usr/share/vela-admin-video-driver/xorg.conf.d/20-vela-admin-driver.conf]
$ set-xorg nVidia GP106 [GeForce GTX 1060 6GB] modesetting
[exit 0]
--- /etc/X11/xorg.conf.d/20-vela-admin-video-driver.conf
Section "Device"
    Identifier "GP106 [GeForce GTX 1060 6GB]"
    Driver "modesetting"
    BusID "PCI:11@0000:00:0"
    Option "AllowEmptyInitialConfiguration"
EndSection

[end of /etc/X11/xorg.conf.d/20-vela-admin-video-driver.conf]
--- tree /usr/share/vela-admin-video-driver
<date>/
<date>/modprobe.d/
<date>/modprobe.d/blacklist-fixture.conf
<date>/xorg.conf.d/
<date>/xorg.conf.d/10-keyboard.conf
<date>/xorg.conf.d/20-vela-admin-driver.conf
latest
modprobe.d
xorg.conf.d
$ set-xorg PCI:0b@0000:00:0 vesa
stderr: corvo.cli: D-Bus helper error: The XOrg driver "vesa" is not installed: no vesa_drv.so in the XOrg driver folders.
[exit 255]
(nobody) $ set-module PCI:0b@0000:00:0 nvidia
stderr: corvo.cli: D-Bus helper error: Authorization denied.
[exit 255]
(nobody) $ set-xorg PCI:0b@0000:00:0 nouveau
stderr: corvo.cli: D-Bus helper error: Authorization denied.
[exit 255]
--- /etc/X11/xorg.conf.d/20-vela-admin-video-driver.conf
Section "Device"
    Identifier "GP106 [GeForce GTX 1060 6GB]"
    Driver "modesetting"
    BusID "PCI:11@0000:00:0"
    Option "AllowEmptyInitialConfiguration"
EndSection

[end of /etc/X11/xorg.conf.d/20-vela-admin-video-driver.conf]
--- tree /etc/X11/xorg.conf.d
10-keyboard.conf
20-vela-admin-video-driver.conf
EOF
check switch "$WORK/switch.expected" "${NVIDIA_DESKTOP[@]}" -- '
    mkdir -p /etc/modprobe.d
    echo "blacklist fixture" >/etc/modprobe.d/blacklist-fixture.conf
    printf "Section \"InputClass\"\nEndSection\n" >/etc/X11/xorg.conf.d/10-keyboard.conf
    printf "Section \"Device\"\n    Identifier \"older\"\nEndSection\n" >/etc/X11/xorg.conf.d/20-vela-admin-driver.conf
    run set-module PCI:0b@0000:00:0 nvidia
    show /etc/X11/xorg.conf.d/20-vela-admin-video-driver.conf
    tree /etc/X11/xorg.conf.d
    tree /usr/share/vela-admin-video-driver
    show /usr/share/vela-admin-video-driver/xorg.conf.d/20-vela-admin-driver.conf
    run set-xorg "nVidia GP106 [GeForce GTX 1060 6GB]" modesetting
    show /etc/X11/xorg.conf.d/20-vela-admin-video-driver.conf
    tree /usr/share/vela-admin-video-driver
    run set-xorg PCI:0b@0000:00:0 vesa
    run --nobody set-module PCI:0b@0000:00:0 nvidia
    run --nobody set-xorg PCI:0b@0000:00:0 nouveau
    show /etc/X11/xorg.conf.d/20-vela-admin-video-driver.conf
    tree /etc/X11/xorg.conf.d'

# ---------------------------------------------------------------------------------------------
# Refusals on an untouched machine: neither the snippet nor a backup nor the backup mark appear
# (a refused request must not use up the one backup of the boot). The X log names the driver
# in use "NVIDIA": the tool itself refuses to set nvidia again.
cat >"$WORK/refused.expected" <<'EOF'
(nobody) $ set-module PCI:0b@0000:00:0 nvidia
stderr: corvo.cli: D-Bus helper error: Authorization denied.
[exit 255]
$ set-xorg PCI:0b@0000:00:0 vesa
stderr: corvo.cli: D-Bus helper error: The XOrg driver "vesa" is not installed: no vesa_drv.so in the XOrg driver folders.
[exit 255]
$ set-xorg PCI:0b@0000:00:0 nouveau
stderr: corvo.cli: D-Bus helper error: The XOrg driver "nouveau" is not installed: no nouveau_drv.so in the XOrg driver folders.
[exit 255]
$ set-xorg PCI:0b@0000:00:0 nvidia
You are trying to set current xorg driver
[exit 255]
--- tree /etc/X11/xorg.conf.d
10-keyboard.conf
--- tree /usr/share/vela-admin-video-driver does not exist
--- /run/corvo-video-driver/backup.mark does not exist
EOF
check refused "$WORK/refused.expected" "${NVIDIA_DESKTOP[@]}" -- '
    printf "Section \"InputClass\"\nEndSection\n" >/etc/X11/xorg.conf.d/10-keyboard.conf
    run --nobody set-module PCI:0b@0000:00:0 nvidia
    run set-xorg PCI:0b@0000:00:0 vesa
    run set-xorg PCI:0b@0000:00:0 nouveau
    run set-xorg PCI:0b@0000:00:0 nvidia
    tree /etc/X11/xorg.conf.d
    tree /usr/share/vela-admin-video-driver
    show /run/corvo-video-driver/backup.mark'

# ---------------------------------------------------------------------------------------------
# Two more adapters: an Intel one on bus 00 (the bus stays "00"), chosen by vendor name, and an
# NVIDIA device the PCI database does not know on bus 1f: its name is libpci's numeric one, and
# its bus becomes 31.
cat >"$WORK/others.expected" <<'EOF'
$ set-module Intel Corporation i915
[exit 0]
--- /etc/X11/xorg.conf.d/20-vela-admin-video-driver.conf
Section "Device"
    Identifier "UHD Graphics 620"
    Driver "modesetting"
    BusID "PCI:00@0000:02:0"
    Option "AllowEmptyInitialConfiguration"
EndSection

[end of /etc/X11/xorg.conf.d/20-vela-admin-video-driver.conf]
$ set-module PCI:1f@0000:00:0 nouveau
[exit 0]
--- /etc/X11/xorg.conf.d/20-vela-admin-video-driver.conf
Section "Device"
    Identifier "Device fff0"
    Driver "nouveau"
    BusID "PCI:31@0000:00:0"
    Option "AllowEmptyInitialConfiguration"
EndSection

[end of /etc/X11/xorg.conf.d/20-vela-admin-video-driver.conf]
EOF
check others "$WORK/others.expected" \
    --gpu 0000:00:02.0,8086,5917,030000,i915 --gpu 0000:1f:00.0,10de,fff0,030000 \
    --alias 'pci:v00008086d*sv*sd*bc03sc*i* i915' --alias 'pci:v000010DEd*sv*sd*bc03sc*i* nouveau' \
    --module kernel/drivers/gpu/drm/i915/i915.ko=i915 --module kernel/drivers/gpu/drm/nouveau/nouveau.ko=nouveau \
    --xorg 2:modesetting_drv.so --xorg 1:nouveau_drv.so -- '
    run set-module "Intel Corporation" i915
    show /etc/X11/xorg.conf.d/20-vela-admin-video-driver.conf
    run set-module PCI:1f@0000:00:0 nouveau
    show /etc/X11/xorg.conf.d/20-vela-admin-video-driver.conf'
