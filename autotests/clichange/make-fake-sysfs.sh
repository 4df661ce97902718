#!/bin/bash
# make-fake-sysfs.sh DIR GPU...
# Writes DIR/sys, a sysfs tree in which libhd and libpci find the named display adapters
# (each on PCI bus 0, so no bridge is needed):
#   intel   8086:5917 UHD Graphics 620        at 0000:00:02.0, bound to i915
#   nvidia  10de:1c03 GeForce GTX 1060 6GB    at 0000:00:03.0, bound to nouveau
#   amd     1002:67df Radeon RX 470/480/570   at 0000:00:04.0, no driver bound
set -euo pipefail
DIR=${1:?usage: make-fake-sysfs.sh DIR GPU...}
shift
SYS=$DIR/sys
rm -rf "$SYS"
mkdir -p "$SYS/bus/pci/devices" "$SYS/bus/pci/drivers" "$SYS/bus/pci_express/drivers" "$SYS/module" "$SYS/devices/pci0000:00"

# 256 bytes of PCI configuration space, type 0 header, little endian.
config_space() { # vendor device class subvendor subdevice revision irq
    local v=$1 d=$2 c=$3 sv=$4 sd=$5 rev=$6 irq=$7 b=''
    byte() { b+=$(printf '\\x%02x' $(($1 & 0xff))); }
    word() { byte $1; byte $(($1 >> 8)); }
    word $v; word $d; word 0x0007; word 0
    byte $rev; byte $c; byte $((c >> 8)); byte $((c >> 16))
    byte 0; byte 0; byte 0; byte 0
    word 0x0000; word 0xf600 # BAR0, 32-bit memory
    for ((i = 0x14; i < 0x2c; i++)); do byte 0; done
    word $sv; word $sd
    for ((i = 0x30; i < 0x3c; i++)); do byte 0; done
    byte $irq; byte 1; byte 0; byte 0
    for ((i = 0x40; i < 0x100; i++)); do byte 0; done
    printf "$b"
}

adapter() { # busid vendor device class subvendor subdevice revision irq driver|-
    local id=$1 v=$2 d=$3 c=$4 sv=$5 sd=$6 rev=$7 irq=$8 drv=$9
    local rel=pci0000:00/$id dev=$SYS/devices/pci0000:00/$id
    mkdir -p "$dev/power"
    printf '0x%04x\n' $v >"$dev/vendor"
    printf '0x%04x\n' $d >"$dev/device"
    printf '0x%06x\n' $c >"$dev/class"
    printf '0x%04x\n' $sv >"$dev/subsystem_vendor"
    printf '0x%04x\n' $sd >"$dev/subsystem_device"
    printf '0x%02x\n' $rev >"$dev/revision"
    printf '%d\n' $irq >"$dev/irq"
    echo 1 >"$dev/enable"
    echo 1 >"$dev/boot_vga"
    local alias
    alias=$(printf 'pci:v%08Xd%08Xsv%08Xsd%08Xbc%02Xsc%02Xi%02X' $v $d $sv $sd $((c >> 16)) $(((c >> 8) & 0xff)) $((c & 0xff)))
    echo "$alias" >"$dev/modalias"
    {
        printf '0x%016x 0x%016x 0x%016x\n' 0xf6000000 0xf6ffffff 0x40200
        for _ in $(seq 12); do printf '0x%016x 0x%016x 0x%016x\n' 0 0 0; done
    } >"$dev/resource"
    config_space $v $d $c $sv $sd $rev $irq >"$dev/config"
    ln -s ../../../bus/pci "$dev/subsystem"
    ln -s "../../../devices/$rel" "$SYS/bus/pci/devices/$id"
    {
        [ "$drv" != - ] && echo "DRIVER=$drv"
        printf 'PCI_CLASS=%X\nPCI_ID=%04X:%04X\nPCI_SUBSYS_ID=%04X:%04X\nPCI_SLOT_NAME=%s\nMODALIAS=%s\n' $c $v $d $sv $sd "$id" "$alias"
    } >"$dev/uevent"
    if [ "$drv" != - ]; then
        mkdir -p "$SYS/bus/pci/drivers/$drv" "$SYS/module/$drv/drivers"
        ln -s "../../../bus/pci/drivers/$drv" "$dev/driver"
        ln -s "../../../../devices/$rel" "$SYS/bus/pci/drivers/$drv/$id"
        [ -e "$SYS/bus/pci/drivers/$drv/module" ] || ln -s "../../../../module/$drv" "$SYS/bus/pci/drivers/$drv/module"
        [ -e "$SYS/module/$drv/drivers/pci:$drv" ] || ln -s "../../../bus/pci/drivers/$drv" "$SYS/module/$drv/drivers/pci:$drv"
    fi
}

for gpu in "$@"; do
    case $gpu in
    intel) adapter 0000:00:02.0 0x8086 0x5917 0x030000 0x1043 0x1a00 0x07 128 i915 ;;
    nvidia) adapter 0000:00:03.0 0x10de 0x1c03 0x030000 0x1043 0x85bf 0xa1 131 nouveau ;;
    amd) adapter 0000:00:04.0 0x1002 0x67df 0x030000 0x1da2 0xe366 0xe7 132 - ;;
    *) echo "make-fake-sysfs.sh: unknown adapter $gpu" >&2; exit 2 ;;
    esac
done
