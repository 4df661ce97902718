#include "device.h"
#include "driverlib_debug.h"
#include "modulediscovery.h"
#include "systempaths.h"
#include "busconfig.h"

#include <QFile>
#include <QProcess>
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

Device::Device(hd_t *record, const ModuleIndex *index, PciNames *pciNames)
{
    if (!record) {
        return;
    }
    m_baseClassName = text(record->base_class.name);
    m_vendorName = text(record->vendor.name);
    m_deviceName = text(record->device.name);
    m_model = text(record->model);
    m_classId = fromHex(int(record->base_class.id), 2) + fromHex(int(record->sub_class.id), 2);
    m_deviceId = fromHex(int(record->device.id), 4);
    const QString rawBusId = text(record->sysfs_bus_id);
    m_sysfsBusId = parseBusId(rawBusId);
    m_sysfsId = text(record->sysfs_id);
    m_modalias = text(record->modalias);
    m_uniqueId = text(record->unique_id);

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
    m_xorgDriver = findCurrentXOrgDriver(rawBusId);
    m_newModuleIndex = m_currentModuleIndex;

    bool ok = false;
    const int vendor = fromHex(int(record->vendor.id), 4).toInt(&ok, 16);
    if (ok && (vendor == Nvidia || vendor == Amd || vendor == Intel)) {
        m_videoCardVendorId = static_cast<VideoCardVendorId>(vendor);
    }
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
    static const QRegularExpression pattern(QStringLiteral(
        "(?'domain'[[:xdigit:]]+):(?'bus'[[:xdigit:]]+):(?'slot'[[:xdigit:]]+)\\.(?'function'[[:xdigit:]]+)"));
    const QRegularExpressionMatch match = pattern.match(sysfsBusId);
    return QStringLiteral("PCI:%1@%2:%3:%4")
        .arg(match.captured(QStringLiteral("bus")), match.captured(QStringLiteral("domain")),
             match.captured(QStringLiteral("slot")), match.captured(QStringLiteral("function")));
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
    const QString link = SystemPaths::drmCardLinkPrefix() + busId + SystemPaths::drmCardLinkSuffix();
    if (!QFile::exists(link)) {
        return QString();
    }
    QFile log(isRootStartedX() ? SystemPaths::rootXLog() : SystemPaths::displayManagerXLog());
    if (!log.open(QIODevice::ReadOnly)) {
        qCDebug(DRIVERLIB) << "Failed to read XOrg log file";
        return QString();
    }
    static const QRegularExpression tag(QStringLiteral("([^ ]+)\\(\\d+\\)"), QRegularExpression::MultilineOption);
    return tag.match(utf8UpToNul(log.readAll())).captured(1);
}

bool Device::isRootStartedX() const
{
    QProcess ps;
    ps.start(SystemPaths::bash(), {QStringLiteral("-c"), SystemPaths::xOwnerCommand()});
    if (!ps.waitForFinished(TimeLimits::processMs)) {
        ps.kill();
        ps.waitForFinished(1000);
        return false;
    }
    if (ps.exitStatus() != QProcess::NormalExit || ps.exitCode() != 0) {
        return false;
    }
    return utf8UpToNul(ps.readAllStandardOutput()).contains(QLatin1String("root"));
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

QList<Device> probeGpus(ProbeFilter filter)
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
    // The walk of the module tree and libhd's bus scan are the two slow steps of a probe and
    // do not depend on each other: walk the tree on a second thread meanwhile.
    std::future<ModuleIndex> pendingIndex = std::async(std::launch::async, [] {
        return ModuleIndex();
    });
    hd_t *records = hd_list(context.get(), hw_pci, 1, nullptr);
    if (!records) {
        return result;
    }
    const ModuleIndex index = pendingIndex.get();
    std::optional<PciNames> pciNames;
    for (hd_t *record = records; record; record = record->next) {
        if (!Device::isGraphicsDevice(record)) {
            continue;
        }
        if (!pciNames) {
            pciNames.emplace();
        }
        Device device(record, &index, &*pciNames);
        const bool keep = filter == ProbeFilter::WithModules ? !device.driverList().isEmpty()
                                                             : device.classId().startsWith(QLatin1String("03"));
        if (keep) {
            result.append(device);
        }
    }
    hd_free_hd_list(records);
    return result;
}
