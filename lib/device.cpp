// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "device.h"
#include "driverlib_debug.h"
#include "hardwarescan.h"
#include "modulediscovery.h"
#include "systempaths.h"
#include "xservers.h"

#include <QFile>
#include <QRegularExpression>

#include <future>
#include <memory>
#include <optional>

#include <hd.h>
extern "C" {
#include <pci/pci.h>
}

namespace
{
QString text(const char *value)
{
    return value ? QString::fromUtf8(value) : QString();
}

// Decodes process output or file contents as UTF-8 up to the first NUL byte.
QString utf8UpToNul(const QByteArray &data)
{
    const int nul = data.indexOf('\0');
    return QString::fromUtf8(nul < 0 ? data : data.left(nul));
}
}

Device Device::identityOf(hd_t *record)
{
    Device device;
    if (record) {
        device.readIdentity(record);
    }
    return device;
}

void Device::readIdentity(hd_t *record)
{
    m_baseClassName = text(record->base_class.name);
    m_vendorName = text(record->vendor.name);
    m_deviceName = text(record->device.name);
    m_model = text(record->model);
    m_classId = fromHex(int(record->base_class.id), 2) + fromHex(int(record->sub_class.id), 2);
    m_deviceId = fromHex(int(record->device.id), 4);
    m_sysfsBusId = parseBusId(text(record->sysfs_bus_id));
    m_sysfsId = text(record->sysfs_id);
    m_modalias = text(record->modalias);
    m_uniqueId = text(record->unique_id);

    bool ok = false;
    const int vendor = fromHex(int(record->vendor.id), 4).toInt(&ok, 16);
    if (ok && (vendor == Nvidia || vendor == Amd || vendor == Intel)) {
        m_videoCardVendorId = static_cast<VideoCardVendorId>(vendor);
    }
}

Device::Device(hd_t *record, const ModuleIndex *index, PciNames *pciNames, const XServers *xServers)
{
    if (!record) {
        return;
    }
    readIdentity(record);
    const QString rawBusId = text(record->sysfs_bus_id);

    QStringList names;
    for (driver_info_t *info = record->driver_info; info; info = info->next) {
        if (info->any.type == di_x11) {
            // X server entries list the server version, the X driver and flags ("4",
            // "vmware", "3d") in their database list; only the driver name is of use here.
            if (info->x11.server) {
                names.append(text(info->x11.server));
            }
            continue;
        }
        for (str_list_t *entry = info->any.hddb0; entry; entry = entry->next) {
            names.append(text(entry->str));
        }
    }
    m_driverList = parseDriverList(&names, index);
    m_name = pciNames ? nameDefinition(*pciNames) : nameDefinition();
    m_currentModuleIndex = findCurrentModuleIndex(record->driver);
    m_moduleInUse = !m_driverList.isEmpty() && m_driverList.at(m_currentModuleIndex).displayName == text(record->driver);
    m_xorgDriver = xServers ? findCurrentXOrgDriver(rawBusId, *xServers) : findCurrentXOrgDriver(rawBusId);
    m_newModuleIndex = m_currentModuleIndex;
}

bool Device::isGraphicsDevice(const hd_t *record)
{
    return record && record->base_class.id == 3;
}

QString Device::fromHex(int value, int width)
{
    const QString digits = QStringLiteral("%1").arg(uint(value), width, 16, QLatin1Char('0')).toLower();
    return digits.right(width);
}

QString Device::parseBusId(const QString &sysfsBusId)
{
    static const QRegularExpression pattern(
        QStringLiteral("(?'domain'[[:xdigit:]]+):(?'bus'[[:xdigit:]]+):(?'slot'[[:xdigit:]]+)\\.(?'function'[[:xdigit:]]+)"));
    const QRegularExpressionMatch match = pattern.match(sysfsBusId);
    return QStringLiteral("PCI:%1@%2:%3:%4")
        .arg(match.captured(QStringLiteral("bus")),
             match.captured(QStringLiteral("domain")),
             match.captured(QStringLiteral("slot")),
             match.captured(QStringLiteral("function")));
}

QList<Module> Device::parseDriverList(const QStringList *names, const ModuleIndex *index) const
{
    QList<Module> result;
    if (!names) {
        return result;
    }
    std::optional<ModuleIndex> ownIndex;
    for (const QString &name : *names) {
        if (name.isEmpty()) {
            continue;
        }
        if (!index) {
            ownIndex.emplace();
            index = &*ownIndex;
        }
        Module module;
        module.trueName = name;
        module.path = index->find(ModuleFiles::fileNameFor(name));
        module.displayName = module.path.isEmpty() ? name : displayName(module.path, ModuleFiles::dashedName(name));
        if (!result.contains(module)) {
            result.append(module);
        }
    }
    return result;
}

QString Device::displayName(const QString &path, const QString &name)
{
    const QString declared = ModuleFiles::declaredName(path);
    return declared.isEmpty() ? name : declared;
}

int Device::findCurrentModuleIndex(const char *driver) const
{
    const QString active = text(driver);
    for (int i = 0; i < m_driverList.size(); ++i) {
        if (m_driverList.at(i).displayName == active) {
            return i;
        }
    }
    return 0;
}

QString Device::findCurrentXOrgDriver(const QString &busId) const
{
    return findCurrentXOrgDriver(busId, XServers::running());
}

QString Device::findCurrentXOrgDriver(const QString &busId, const XServers &xServers) const
{
    const QString link = SystemPaths::drmCardLinkPrefix() + busId + SystemPaths::drmCardLinkSuffix();
    if (!QFile::exists(link)) {
        return QString();
    }
    // The first log that can be read counts: an X server that does not run as root writes
    // its log into its owner's home.
    const std::optional<QByteArray> log = xServers.readLog();
    if (!log) {
        qCDebug(DRIVERLIB) << "Failed to read XOrg log file";
        return QString();
    }
    static const QRegularExpression tag(QStringLiteral("([^ ]+)\\(\\d+\\)"), QRegularExpression::MultilineOption);
    return tag.match(utf8UpToNul(*log)).captured(1);
}

// An X server runs as root when the process list shows one whose effective user is root. With
// no X server running the answer is no.
bool Device::isRootStartedX() const
{
    return XServers::running().rootStarted();
}

void Device::setNewDriver(const QString &name)
{
    for (int i = 0; i < m_driverList.size(); ++i) {
        const Module &module = m_driverList.at(i);
        if (module.displayName == name || module.trueName == name) {
            m_newModuleIndex = i;
        }
    }
}

QPair<bool, Module> Device::driverByTrueName(const QString &trueName) const
{
    for (const Module &module : m_driverList) {
        if (module.trueName == trueName) {
            return {true, module};
        }
    }
    return {false, Module()};
}

bool Device::operator==(const Device &other) const
{
    return m_baseClassName == other.m_baseClassName && m_vendorName == other.m_vendorName && m_deviceName == other.m_deviceName && m_model == other.m_model
        && m_classId == other.m_classId && m_deviceId == other.m_deviceId && m_sysfsBusId == other.m_sysfsBusId && m_sysfsId == other.m_sysfsId
        && m_modalias == other.m_modalias && m_uniqueId == other.m_uniqueId && m_xorgDriver == other.m_xorgDriver
        && m_currentModuleIndex == other.m_currentModuleIndex && m_newModuleIndex == other.m_newModuleIndex && m_moduleInUse == other.m_moduleInUse
        && m_driverList == other.m_driverList && m_name == other.m_name && m_active == other.m_active && m_videoCardVendorId == other.m_videoCardVendorId;
}

QString Device::nameDefinition() const
{
    PciNames pciNames;
    return nameDefinition(pciNames);
}

QString Device::nameDefinition(PciNames &pciNames) const
{
    return pciNames.displayDeviceName(m_deviceId);
}

PciNames::PciNames()
{
    m_access = pci_alloc();
    if (m_access) {
        pci_init(m_access);
        pci_scan_bus(m_access);
    }
}

PciNames::~PciNames()
{
    if (m_access) {
        pci_cleanup(m_access);
    }
}

QString PciNames::displayDeviceName(const QString &deviceId)
{
    if (!m_access) {
        return QString();
    }
    for (pci_dev *dev = m_access->devices; dev; dev = dev->next) {
        pci_fill_info(dev, PCI_FILL_IDENT | PCI_FILL_CLASS);
        if ((dev->device_class >> 8) != 0x03 || Device::fromHex(dev->device_id, 4) != deviceId) {
            continue;
        }
        char buffer[1024];
        const char *found = pci_lookup_name(m_access, buffer, sizeof buffer, PCI_LOOKUP_DEVICE, dev->vendor_id, dev->device_id);
        return found ? QString::fromUtf8(found) : QString();
    }
    return QString();
}

hd_t *scanPciBus(hd_data_t *context, HardwareScan scan)
{
    if (scan == HardwareScan::LibhdDefault) {
        return hd_list(context, hw_pci, 1, nullptr);
    }
    // hd_list turns on every feature libhd links with PCI devices, among them the BIOS and
    // ACPI tables (a shell running acpidump), network interfaces, ISDN and the firmware tree.
    // An adapter's record takes nothing from them: the bus scan gives identifiers, bus ids,
    // modalias and the bound driver, and the internal pass adds the names and the module
    // lists from libhd's database (it also reads the udev database, which cannot be turned
    // off on its own).
    hd_clear_probe_feature(context, pr_all);
    hd_set_probe_feature(context, pr_pci);
    hd_set_probe_feature(context, pr_int);
    hd_scan(context);
    return hd_list(context, hw_pci, 0, nullptr);
}

QList<Device> probeGpus(ProbeFilter filter, HardwareScan scan, ProbeDetail detail)
{
    QList<Device> result;
    struct ContextDeleter {
        void operator()(hd_data_t *data) const
        {
            hd_free_hd_data(data);
            free(data);
        }
    };
    std::unique_ptr<hd_data_t, ContextDeleter> context(static_cast<hd_data_t *>(calloc(1, sizeof(hd_data_t))));
    if (!context) {
        return result;
    }
    // Keeping only adapters with modules takes their module lists.
    const bool complete = detail == ProbeDetail::Complete || filter == ProbeFilter::WithModules;
    // The walk of the module tree and libhd's bus scan are the two slow steps of a probe and
    // do not depend on each other: walk the tree on a second thread meanwhile.
    std::future<ModuleIndex> pendingIndex;
    if (complete) {
        pendingIndex = std::async(std::launch::async, [] {
            return ModuleIndex();
        });
    }
    hd_t *records = scanPciBus(context.get(), scan);
    if (!records) {
        return result;
    }
    std::optional<ModuleIndex> index;
    if (complete) {
        index.emplace(pendingIndex.get());
    }
    std::optional<PciNames> pciNames;
    std::optional<XServers> xServers;
    for (hd_t *record = records; record; record = record->next) {
        if (!Device::isGraphicsDevice(record)) {
            continue;
        }
        if (!complete) {
            const Device device = Device::identityOf(record);
            if (device.classId().startsWith(QLatin1String("03"))) {
                result.append(device);
            }
            continue;
        }
        if (!pciNames) {
            pciNames.emplace();
            xServers.emplace(XServers::running());
        }
        Device device(record, &*index, &*pciNames, &*xServers);
        const bool keep = filter == ProbeFilter::WithModules ? !device.driverList().isEmpty() : device.classId().startsWith(QLatin1String("03"));
        if (keep) {
            result.append(device);
        }
    }
    hd_free_hd_list(records);
    return result;
}
