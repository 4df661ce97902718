#include "helperlogic.h"

#include <QDirIterator>
#include <QRegularExpression>
#include <QSet>

namespace HelperLogic
{
namespace
{
const QRegularExpression &busIdPattern()
{
    // Fields are bounded so that every one converts into 32 bits.
    static const QRegularExpression pattern(
        QStringLiteral("\\APCI:([0-9A-Fa-f]{1,8})@([0-9A-Fa-f]{1,8}):([0-9A-Fa-f]{1,8}):([0-9A-Fa-f]{1,8})\\z"));
    return pattern;
}

bool isCmdlineDefaultLine(const QString &line)
{
    static const QRegularExpression pattern(QStringLiteral("^\\s*#?\\s*GRUB_CMDLINE_LINUX_DEFAULT\\s*="));
    return pattern.match(line).hasMatch();
}

// One assignment, the value wholly inside one pair of double quotes holding nothing the shell
// expands or that closes the quotes.
bool isSafeCmdlineDefaultLine(const QString &line)
{
    static const QRegularExpression pattern(QStringLiteral("^\\s*(#\\s*)?GRUB_CMDLINE_LINUX_DEFAULT=\"[^\"$`\\\\]*\"\\s*\\z"));
    for (const QChar c : line) {
        if (c.category() == QChar::Other_Control && c != QLatin1Char('\t')) {
            return false;
        }
    }
    return pattern.match(line).hasMatch();
}

QStringList linesOf(const QString &text)
{
    QStringList lines = text.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.constLast().isEmpty()) {
        lines.removeLast(); // a final line feed ends the last line, it does not start a new one
    }
    return lines;
}
}

bool isSafeConfigValue(const QString &value)
{
    for (const QChar c : value) {
        if (c == QLatin1Char('"') || c == QLatin1Char('\\') || c.category() == QChar::Other_Control
            || c == QChar::LineSeparator || c == QChar::ParagraphSeparator) {
            return false;
        }
    }
    return true;
}

bool isValidBusId(const QString &busId)
{
    return busIdPattern().match(busId).hasMatch();
}

QString xorgBusId(const QString &busId)
{
    const QRegularExpressionMatch match = busIdPattern().match(busId);
    if (!match.hasMatch()) {
        return QString();
    }
    QStringList fields;
    for (int i = 1; i <= 4; ++i) {
        const QString hex = match.captured(i);
        bool ok = false;
        const uint value = hex.toUInt(&ok, 16);
        if (!ok) {
            return QString();
        }
        fields << QStringLiteral("%1").arg(value, hex.size(), 10, QLatin1Char('0'));
    }
    return QStringLiteral("PCI:%1@%2:%3:%4").arg(fields.at(0), fields.at(1), fields.at(2), fields.at(3));
}

QString buildXOrgSnippet(int vendorId, const QString &modelName, const QString &driver, const QString &busId)
{
    QString text;
    if (vendorId == nvidiaVendorId) {
        const QString module = driver == QLatin1String("nvidia") ? QStringLiteral("modesetting") : driver;
        text += QStringLiteral("Section \"Module\"\n");
        text += QStringLiteral("   Load \"%1\"\n").arg(module);
        text += QStringLiteral("EndSection\n\n");
    }
    text += QStringLiteral("Section \"Device\"\n");
    text += QStringLiteral("    Identifier \"%1\"\n").arg(modelName);
    text += QStringLiteral("    Driver \"%1\"\n").arg(driver);
    text += QStringLiteral("    BusID \"%1\"\n").arg(busId);
    text += QStringLiteral("    Option \"AllowEmptyInitialConfiguration\"\n");
    text += QStringLiteral("EndSection\n\n");
    return text;
}

QString buildTearingConfig(const QString &driverName, const QString &tearFree)
{
    return QStringLiteral("Section \"Device\"\n"
                          "    Identifier \"Intel Graphics\"\n"
                          "    Driver \"%1\"\n"
                          "    Option \"TearFree\" \"%2\"\n"
                          "EndSection\n")
        .arg(driverName, tearFree);
}

bool xorgDriverExists(const QString &driver, const QStringList &driverDirs)
{
    if (driver.isEmpty() || driver.contains(QLatin1Char('/'))) {
        return false;
    }
    const QString wanted = driver + QStringLiteral("_drv.so");
    for (const QString &dir : driverDirs) {
        QDirIterator it(dir, QDir::Files | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            it.next();
            if (it.fileName() == wanted) {
                return true;
            }
        }
    }
    return false;
}

QString checkGrubContent(const QString &current, const QString &proposed)
{
    QStringList oldRest;
    for (const QString &line : linesOf(current)) {
        if (!isCmdlineDefaultLine(line)) {
            oldRest << line;
        }
    }
    QStringList newRest;
    for (const QString &line : linesOf(proposed)) {
        if (isCmdlineDefaultLine(line)) {
            if (!isSafeCmdlineDefaultLine(line)) {
                return QStringLiteral("refusing a GRUB_CMDLINE_LINUX_DEFAULT line that is not a plain quoted value");
            }
        } else {
            newRest << line;
        }
    }
    if (oldRest != newRest) {
        return QStringLiteral("refusing a change to lines other than GRUB_CMDLINE_LINUX_DEFAULT");
    }
    return QString();
}

QStringList lockHolderPids(const QByteArray &fuserOutput)
{
    const int nul = fuserOutput.indexOf('\0');
    const QString text = QString::fromUtf8(nul < 0 ? fuserOutput : fuserOutput.left(nul));
    return text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

QList<qint64> pidsToKill(const QStringList &atStart, const QStringList &now, qint64 ownPid)
{
    static const QRegularExpression digits(QStringLiteral("\\A[0-9]{1,10}\\z"));
    QSet<QString> stillHolding;
    for (const QString &word : now) {
        stillHolding.insert(word.trimmed());
    }
    QList<qint64> result;
    for (const QString &raw : atStart) {
        const QString word = raw.trimmed();
        if (!digits.match(word).hasMatch() || !stillHolding.contains(word)) {
            continue;
        }
        const qint64 pid = word.toLongLong();
        if (pid > 1 && pid != ownPid && !result.contains(pid)) {
            result << pid;
        }
    }
    return result;
}

QStringList namesToPurge(const QStringList &nameSet, const PackageFacts &facts)
{
    const QSet<QString> members(nameSet.cbegin(), nameSet.cend());
    QStringList result;
    for (const QString &name : nameSet) {
        if (result.contains(name) || !facts.exists(name)) {
            continue;
        }
        bool neededOutside = false;
        for (const QString &user : facts.requiredBy(name)) {
            if (!members.contains(user) && facts.exists(user) && facts.isInstalled(user)) {
                neededOutside = true;
                break;
            }
        }
        if (!neededOutside) {
            result << name;
        }
    }
    return result;
}
}
