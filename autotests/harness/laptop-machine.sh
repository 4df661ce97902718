# SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
# SPDX-License-Identifier: GPL-2.0-or-later
# The made-up laptop of gpu-fixture.sh that the listing and completion tests share: an Intel
# adapter driving the screen and an NVIDIA card on nouveau. The NVIDIA modules come from
# modules.alias: nouveau (loaded, so current), nvidia (no file in the tree, listed under its
# probe name) and nvidia_drm (found as nvidia-drm.ko, whose .modinfo declares "nvidia_drm").
# The X log tag "modeset" starts "modesetting", installed in two folders. The NVIDIA card has
# no DRM node, so its X driver is not known. Sourced: "$HARNESS" "${LAPTOP_MACHINE[@]}" -- ...
LAPTOP_MACHINE=(
    --gpu 0000:00:02.0,8086,5917,030000,i915,1043,1a00
    --gpu 0000:01:00.0,10de,1c03,030000,nouveau,1043,85bf
    --alias 'pci:v00008086d00005917sv*sd*bc03sc*i* i915'
    --alias 'pci:v000010DEd*sv*sd*bc03sc*i* nouveau'
    --alias 'pci:v000010DEd*sv*sd*bc03sc00i00* nvidia'
    --alias 'pci:v000010DEd*sv*sd*bc03sc00i00* nvidia_drm'
    --module kernel/drivers/gpu/drm/i915/i915.ko=i915
    --module kernel/drivers/gpu/drm/nouveau/nouveau.ko=nouveau
    --module updates/dkms/nvidia-drm.ko=nvidia_drm
    --drm 0000:00:02.0
    --xlog 'root=[    20.123] (II) modeset(0): Output eDP-1 connected\n'
    --xorg 1:modesetting_drv.so --xorg 2:intel_drv.so --xorg 2:modesetting_drv.so --xorg 3:nvidia_drv.so
)
