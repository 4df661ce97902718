// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QList>
#include <QMetaType>
#include <QPair>
#include <QString>
#include <QStringList>

struct s_hd_t;
typedef struct s_hd_t hd_t;

class ModuleIndex;
class PciNames;
class XServers;

// The vendors the system treats specially; the value is the PCI vendor identifier.
enum VideoCardVendorId : qint32 {
    Nvidia = 0x10de,
    Amd = 0x1002,
    Intel = 0x8086,
    Unknown = -1,
};

// One kernel module that can drive an adapter.
struct Module {
    QString trueName; // as the hardware probe names it; shown and passed on
    QString displayName; // the name declared inside the module file, or a fallback
    QString path; // the module file, empty when none was found

    bool operator==(const Module &other) const
    {
        return trueName == other.trueName && displayName == other.displayName && path == other.path;
    }
    bool operator!=(const Module &other) const
    {
        return !(*this == other);
    }
};

// One graphics adapter, built once from a libhd record and afterwards only read, except for
// the choices the administrator makes (the module for the next save, the X driver, the active
// mark). A plain value: copy it freely, hand it between threads by value.
class Device
{
public:
    Device() = default;
    // Builds the record from one libhd hardware record, which stays owned by libhd. The index,
    // the name table and the X servers let several adapters of one probe share a single walk
    // of the module tree, a single read of the PCI name database and of the process list;
    // without them the constructor makes its own.
    explicit Device(hd_t *record, const ModuleIndex *index = nullptr, PciNames *pciNames = nullptr, const XServers *xServers = nullptr);

    // Only what the record itself holds: texts, identifiers, bus ids and the vendor class; no
    // module list, no PCI database name, no X driver.
    static Device identityOf(hd_t *record);

    static bool isGraphicsDevice(const hd_t *record);
    static QString fromHex(int value, int width);
    static QString parseBusId(const QString &sysfsBusId);

    QString vendorName() const
    {
        return m_vendorName;
    }
    QString deviceName() const
    {
        return m_deviceName;
    }
    QString model() const
    {
        return m_model;
    }
    QString classId() const
    {
        return m_classId;
    }
    QString deviceId() const
    {
        return m_deviceId;
    }
    // The bus address in the X server's form, e.g. "PCI:01@0000:00:0".
    QString sysfsBusId() const
    {
        return m_sysfsBusId;
    }
    QString modalias() const
    {
        return m_modalias;
    }
    QString uniqueId() const
    {
        return m_uniqueId;
    }
    QString name() const
    {
        return m_name;
    }
    QString xorgDriver() const
    {
        return m_xorgDriver;
    }
    bool isActive() const
    {
        return m_active;
    }
    VideoCardVendorId videoCardVendorId() const
    {
        return m_videoCardVendorId;
    }
    QList<Module> driverList() const
    {
        return m_driverList;
    }
    // Whether the adapter's bound kernel driver is one of driverList(): the module at
    // currentDriver() really is in use. When it is not, currentDriver() is still the first
    // module (selection relies on that), but nothing may be shown as the one in use.
    bool hasModuleInUse() const
    {
        return m_moduleInUse;
    }
    // Every device that getGpus returns has modules; an empty Device (no active adapter) gives
    // an empty module rather than reading past its empty list.
    Module currentDriver() const
    {
        return m_driverList.value(m_currentModuleIndex);
    }
    Module newDriver() const
    {
        return m_driverList.value(m_newModuleIndex);
    }

    void setActive(bool active)
    {
        m_active = active;
    }
    void updateXOrgDriver(const QString &driver)
    {
        m_xorgDriver = driver;
    }
    // A saved choice: from now on the chosen module counts as the one in use.
    void updateCurrentDriver()
    {
        m_currentModuleIndex = m_newModuleIndex;
        m_moduleInUse = !m_driverList.isEmpty();
    }
    void setNewDriver(const QString &name);
    QPair<bool, Module> driverByTrueName(const QString &trueName) const;

    // Every field, the ones without an accessor included.
    bool operator==(const Device &other) const;
    bool operator!=(const Device &other) const
    {
        return !(*this == other);
    }

    bool isRootStartedX() const;

    // Discovery steps; public so that they can be exercised on their own.
    QList<Module> parseDriverList(const QStringList *names, const ModuleIndex *index = nullptr) const;
    static QString displayName(const QString &path, const QString &name);
    int findCurrentModuleIndex(const char *driver) const;
    QString findCurrentXOrgDriver(const QString &busId) const;
    QString findCurrentXOrgDriver(const QString &busId, const XServers &xServers) const;
    QString nameDefinition() const;
    QString nameDefinition(PciNames &pciNames) const;

    // For tests and for callers that assemble a device by hand.
    void setDriverListForTest(const QList<Module> &modules, int currentIndex, bool inUse = true)
    {
        m_driverList = modules;
        m_currentModuleIndex = m_newModuleIndex = currentIndex;
        m_moduleInUse = inUse && !modules.isEmpty();
    }
    void setIdentityForTest(const QString &vendorName,
                            const QString &name,
                            const QString &model,
                            const QString &sysfsBusId,
                            const QString &classId,
                            VideoCardVendorId vendorId)
    {
        m_vendorName = vendorName;
        m_name = name;
        m_model = model;
        m_sysfsBusId = sysfsBusId;
        m_classId = classId;
        m_videoCardVendorId = vendorId;
    }

private:
    void readIdentity(hd_t *record);

    QString m_baseClassName;
    QString m_vendorName;
    QString m_deviceName;
    QString m_model;
    QString m_classId;
    QString m_deviceId;
    QString m_sysfsBusId;
    QString m_sysfsId;
    QString m_modalias;
    QString m_uniqueId;
    QString m_xorgDriver;
    qint32 m_currentModuleIndex = 0;
    qint32 m_newModuleIndex = 0;
    bool m_moduleInUse = false;
    QList<Module> m_driverList;
    QString m_name;
    bool m_active = false;
    VideoCardVendorId m_videoCardVendorId = Unknown;
};

Q_DECLARE_METATYPE(Device)

// The PCI bus as libpci sees it, with its name database, opened once and shared by the adapters
// of one probe.
class PciNames
{
public:
    PciNames();
    ~PciNames();
    PciNames(const PciNames &) = delete;
    PciNames &operator=(const PciNames &) = delete;

    // The device name (without the vendor) of the first display controller on the bus whose
    // device identifier, as four lower-case hex digits, is deviceId; empty when there is none
    // or the database does not know it. Like the adapters' names, the vendor is not compared.
    QString displayDeviceName(const QString &deviceId);

private:
    struct pci_access *m_access = nullptr;
};

// Which display-class records a probe keeps.
enum class ProbeFilter {
    WithModules, // only adapters for which at least one kernel module is known
    AllDisplayClass, // every adapter whose class identifier begins with "03"
};

// How much of libhd's probing a scan of the PCI bus asks for.
enum class HardwareScan {
    DisplayRecords, // the bus and libhd's database only: all an adapter's record is built from
    LibhdDefault, // every feature hd_list links with PCI devices (BIOS, ACPI, network, ...)
};

// How much a probe finds out about each adapter.
enum class ProbeDetail {
    Complete, // everything a Device holds
    Identity, // Device::identityOf: for callers that show no more than names and bus ids
};

// Probes the PCI bus afresh and returns the display adapters in probe order. A probe that keeps
// only adapters with modules finds out everything.
QList<Device> probeGpus(ProbeFilter filter, HardwareScan scan = HardwareScan::DisplayRecords, ProbeDetail detail = ProbeDetail::Complete);

// The adapters for which at least one kernel module is known.
inline QList<Device> getGpus()
{
    return probeGpus(ProbeFilter::WithModules);
}
