# SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
# SPDX-License-Identifier: GPL-2.0-or-later
# Cases of clikauth-test.sh: the intel-accel-* actions rewrite /etc/default/grub through the
# real helper, which then runs the boot loader update (a stand-in recording its runs).

INTEL_LAPTOP=(
    --gpu 0000:00:02.0,8086,5917,030000,i915,1043,1a00
    --alias 'pci:v00008086d00005917sv*sd*bc03sc*i* i915'
    --module kernel/drivers/gpu/drm/i915/i915.ko=i915
)
# ---------------------------------------------------------------------------------------------
# Every change rewrites only the command line; each is in place before the update runs, which
# runs once per change, as root, without arguments. Setting the value that is already the last
# option sends nothing.
cat >"$WORK/accel.expected" <<'EOF'
$ intel-accel-set-guc 3
GuC mode successfully set to 3.
[exit 0]
$ intel-accel-set-fbc 1
Frame Buffer Compression (FBC) successfully enabled.
[exit 0]
$ intel-accel-disable
Hardware acceleration successfully disabled.
[exit 0]
$ intel-accel-enable
Hardware acceleration successfully enabled.
[exit 0]
$ intel-accel-set-fbc 1
Error: The i915.enable_fbc value is already set.
[exit 255]
$ intel-accel-status
Current Intel GPU acceleration settings:
	GuC mode: 3
	Frame Buffer Compression (FBC): enabled
[exit 0]
--- /etc/default/grub
# If you change this file, run update-grub afterwards.
GRUB_DEFAULT=0
GRUB_TIMEOUT=5
GRUB_DISTRIBUTOR=`lsb_release -i -s 2> /dev/null || echo Debian`
GRUB_CMDLINE_LINUX_DEFAULT="quiet splash i915.enable_guc=3 i915.enable_fbc=1"
GRUB_CMDLINE_LINUX=""
[end of /etc/default/grub]
--- /tmp/update-grub.runs
update-grub ran as root with []: 5:GRUB_CMDLINE_LINUX_DEFAULT="quiet splash i915.enable_guc=3" 
update-grub ran as root with []: 5:GRUB_CMDLINE_LINUX_DEFAULT="quiet splash i915.enable_guc=3 i915.enable_fbc=1" 
update-grub ran as root with []: 5:GRUB_CMDLINE_LINUX_DEFAULT="quiet splash" 
update-grub ran as root with []: 5:GRUB_CMDLINE_LINUX_DEFAULT="quiet splash i915.enable_guc=3 i915.enable_fbc=1" 
[end of /tmp/update-grub.runs]
EOF
check accel "$WORK/accel.expected" "${INTEL_LAPTOP[@]}" -- '
    apt_universe $INTEL_PACKAGES
    update_grub_stub 0
    grub_fixture
    run intel-accel-set-guc 3
    run intel-accel-set-fbc 1
    run intel-accel-disable
    run intel-accel-enable
    run intel-accel-set-fbc 1
    run intel-accel-status
    show /etc/default/grub
    show /tmp/update-grub.runs'

# ---------------------------------------------------------------------------------------------
# A commented-out command line above the active one stays as it is; options are read from the
# active one: every option change moves the option to the end. The file's last line has no line feed, and keeps having none.
cat >"$WORK/commented.expected" <<'EOF'
$ intel-accel-set-fbc 1
Frame Buffer Compression (FBC) successfully enabled.
[exit 0]
--- /etc/default/grub
GRUB_DEFAULT=0
#GRUB_CMDLINE_LINUX_DEFAULT="quiet i915.enable_guc=1"
GRUB_CMDLINE_LINUX_DEFAULT="splash nomodeset i915.enable_fbc=1"
GRUB_TIMEOUT=5[end of /etc/default/grub]
$ intel-accel-enable
Hardware acceleration successfully enabled.
[exit 0]
$ intel-accel-status
Current Intel GPU acceleration settings:
	GuC mode: 3
	Frame Buffer Compression (FBC): enabled
[exit 0]
--- /etc/default/grub
GRUB_DEFAULT=0
#GRUB_CMDLINE_LINUX_DEFAULT="quiet i915.enable_guc=1"
GRUB_CMDLINE_LINUX_DEFAULT="splash nomodeset i915.enable_guc=3 i915.enable_fbc=1"
GRUB_TIMEOUT=5[end of /etc/default/grub]
--- /tmp/update-grub.runs
update-grub ran as root with []: 2:#GRUB_CMDLINE_LINUX_DEFAULT="quiet i915.enable_guc=1" 3:GRUB_CMDLINE_LINUX_DEFAULT="splash nomodeset i915.enable_fbc=1" 
update-grub ran as root with []: 2:#GRUB_CMDLINE_LINUX_DEFAULT="quiet i915.enable_guc=1" 3:GRUB_CMDLINE_LINUX_DEFAULT="splash nomodeset i915.enable_guc=3 i915.enable_fbc=1" 
[end of /tmp/update-grub.runs]
EOF
check commented "$WORK/commented.expected" "${INTEL_LAPTOP[@]}" -- '
    apt_universe $INTEL_PACKAGES
    update_grub_stub 0
    printf "GRUB_DEFAULT=0\n#GRUB_CMDLINE_LINUX_DEFAULT=\"quiet i915.enable_guc=1\"\nGRUB_CMDLINE_LINUX_DEFAULT=\"splash i915.enable_fbc=0 nomodeset\"\nGRUB_TIMEOUT=5" >/etc/default/grub
    run intel-accel-set-fbc 1
    show /etc/default/grub
    run intel-accel-enable
    run intel-accel-status
    show /etc/default/grub
    show /tmp/update-grub.runs'

# ---------------------------------------------------------------------------------------------
# Failures. A failing boot loader update is an error of the helper: it puts the previous
# defaults back, and the tool reports the write as failed with the helper's reason. An
# unprivileged caller is refused before the helper does anything, and a missing Intel package
# stops every change before the helper is asked.
cat >"$WORK/failures.expected" <<'EOF'
$ intel-accel-set-guc 1
Error: Error writing to a file /etc/default/grub: acceleration change: update-grub failed with exit code 3; the previous boot loader defaults were put back
stderr: Warning from helper: update-grub failed with code 3
stderr: corvo.driverlib: Writing the boot loader defaults failed: "acceleration change: update-grub failed with exit code 3; the previous boot loader defaults were put back"
[exit 255]
--- /tmp/update-grub.runs
update-grub ran as root with []: 5:GRUB_CMDLINE_LINUX_DEFAULT="quiet splash i915.enable_guc=1" 
[end of /tmp/update-grub.runs]
(nobody) $ intel-accel-set-fbc 1
Error: Error writing to a file /etc/default/grub: Authorization denied.
stderr: corvo.driverlib: Writing the boot loader defaults failed: "Authorization denied."
[exit 255]
(nobody) $ intel-accel-enable
Error: Error writing to a file /etc/default/grub: Authorization denied.
stderr: corvo.driverlib: Writing the boot loader defaults failed: "Authorization denied."
[exit 255]
--- /tmp/update-grub.runs
update-grub ran as root with []: 5:GRUB_CMDLINE_LINUX_DEFAULT="quiet splash i915.enable_guc=1" 
[end of /tmp/update-grub.runs]
$ intel-accel-disable
Error: The necessary packages for Intel hardware acceleration to work are missing: mesa-vdpau-drivers, mesa-va-drivers
[exit 255]
$ intel-accel-set-guc 0
Error: The necessary packages for Intel hardware acceleration to work are missing: mesa-vdpau-drivers
mesa-va-drivers
[exit 255]
--- /etc/default/grub
# If you change this file, run update-grub afterwards.
GRUB_DEFAULT=0
GRUB_TIMEOUT=5
GRUB_DISTRIBUTOR=`lsb_release -i -s 2> /dev/null || echo Debian`
GRUB_CMDLINE_LINUX_DEFAULT="quiet splash i915.enable_guc=2"
GRUB_CMDLINE_LINUX=""
[end of /etc/default/grub]
--- /tmp/update-grub.runs
update-grub ran as root with []: 5:GRUB_CMDLINE_LINUX_DEFAULT="quiet splash i915.enable_guc=1" 
[end of /tmp/update-grub.runs]
EOF
check failures "$WORK/failures.expected" "${INTEL_LAPTOP[@]}" -- '
    apt_universe $INTEL_PACKAGES
    update_grub_stub 3
    grub_fixture
    run intel-accel-set-guc 1
    show /tmp/update-grub.runs
    run --nobody intel-accel-set-fbc 1
    run --nobody intel-accel-enable
    show /tmp/update-grub.runs
    apt_universe firmware-misc-nonfree intel-microcode intel-media-va-driver mesa-vulkan-drivers
    run intel-accel-disable
    run intel-accel-set-guc 0
    show /etc/default/grub
    show /tmp/update-grub.runs'
