// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
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
    static const QRegularExpression pattern(QStringLiteral("\\APCI:([0-9A-Fa-f]{1,8})@([0-9A-Fa-f]{1,8}):([0-9A-Fa-f]{1,8}):([0-9A-Fa-f]{1,8})\\z"));
    return pattern;
}

const QByteArray &cmdlineKey()
{
    static const QByteArray key("GRUB_CMDLINE_LINUX_DEFAULT=");
    return key;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool isKernelParameterByte(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' || c == ',' || c == ':' || c == '=' || c == '/'
        || c == '+' || c == '-';
}

// Kernel parameters separated by single spaces; no value at all is fine too.
bool isKernelParameterList(const QByteArray &value)
{
    if (value.size() > maxCmdlineValueBytes) {
        return false;
    }
    if (value.isEmpty()) {
        return true;
    }
    for (const QByteArray &token : value.split(' ')) {
        if (token.isEmpty()) {
            return false; // leading, trailing or doubled space
        }
        for (const char c : token) {
            if (!isKernelParameterByte(c)) {
                return false;
            }
        }
    }
    return true;
}

// Reads the file as the shell would, far enough to find the double-quoted value of the one
// GRUB_CMDLINE_LINUX_DEFAULT assignment that starts a line: [*start, *end) are the value's bytes
// between the quotes. Constructs whose quoting this reading does not follow (here-documents,
// quotes or line breaks inside command substitutions) make it give up rather than guess.
QString locateCmdlineValue(const QByteArray &text, int *start, int *end)
{
    enum class State { Normal, Single, Double, Comment };
    State state = State::Normal;
    bool lineStart = true; // at the start of a line, outside any quotes
    bool wordStart = true; // a '#' here starts a comment
    int found = 0;
    const QByteArray &key = cmdlineKey();
    const int n = text.size();
    const QString unsupported = QStringLiteral("the file holds shell code whose quoting cannot be followed safely");

    // A command substitution of one line without quotes, as Debian's GRUB_DISTRIBUTOR uses;
    // returns the index of its last byte, or -1 for anything more involved.
    const auto skipSubstitution = [&](int i) -> int {
        const bool backtick = text.at(i) == '`';
        int depth = 0;
        for (int j = backtick ? i + 1 : i + 2; j < n; ++j) {
            const char d = text.at(j);
            if (d == '"' || d == '\'' || d == '\n' || d == '#' || d == '\\' || (!backtick && d == '`')
                || (backtick && d == '$' && j + 1 < n && text.at(j + 1) == '(')) {
                return -1;
            }
            if (backtick && d == '`') {
                return j;
            }
            if (!backtick && d == '(') {
                ++depth;
            } else if (!backtick && d == ')') {
                if (depth == 0) {
                    return j;
                }
                --depth;
            }
        }
        return -1;
    };

    for (int i = 0; i < n; ++i) {
        const char c = text.at(i);
        if (state == State::Comment) {
            if (c == '\n') {
                state = State::Normal;
                lineStart = wordStart = true;
            }
            continue;
        }
        if (state == State::Single) {
            if (c == '\'') {
                state = State::Normal;
            }
            continue;
        }
        if (state == State::Double) {
            if (c == '\\') {
                ++i; // the escaped byte, a line break included
            } else if (c == '"') {
                state = State::Normal;
            } else if (c == '`' || (c == '$' && i + 1 < n && text.at(i + 1) == '(')) {
                const int last = skipSubstitution(i);
                if (last < 0) {
                    return unsupported;
                }
                i = last;
            }
            continue;
        }
        if (lineStart) {
            if (isBlank(c)) {
                continue;
            }
            lineStart = false;
            if (text.mid(i, key.size()) == key) {
                ++found;
                const int open = i + key.size();
                if (open >= n || text.at(open) != '"') {
                    return QStringLiteral("the GRUB_CMDLINE_LINUX_DEFAULT value is not a plain double-quoted text");
                }
                int close = open + 1;
                while (close < n && text.at(close) != '"') {
                    const char d = text.at(close);
                    if (d == '\\' || d == '$' || d == '`' || d == '\n') {
                        return QStringLiteral("the GRUB_CMDLINE_LINUX_DEFAULT value is not a plain double-quoted text");
                    }
                    ++close;
                }
                if (close >= n) {
                    return QStringLiteral("the GRUB_CMDLINE_LINUX_DEFAULT value is not a plain double-quoted text");
                }
                *start = open + 1;
                *end = close;
                i = close;
                wordStart = false;
                continue;
            }
        }
        switch (c) {
        case '\\':
            ++i; // an escaped byte; an escaped line break continues the line
            wordStart = false;
            break;
        case '\'':
            state = State::Single;
            wordStart = false;
            break;
        case '"':
            state = State::Double;
            wordStart = false;
            break;
        case '#':
            if (wordStart) {
                state = State::Comment;
            }
            break;
        case '\n':
            lineStart = wordStart = true;
            break;
        case ' ':
        case '\t':
        case ';':
        case '&':
        case '|':
        case '(':
        case ')':
            wordStart = true;
            break;
        case '<':
            if (i + 1 < n && text.at(i + 1) == '<') {
                return unsupported;
            }
            wordStart = true;
            break;
        case '`':
        case '$':
            if (c == '`' || (i + 1 < n && text.at(i + 1) == '(')) {
                const int last = skipSubstitution(i);
                if (last < 0) {
                    return unsupported;
                }
                i = last;
            }
            wordStart = false;
            break;
        default:
            wordStart = false;
            break;
        }
    }
    if (state == State::Single || state == State::Double) {
        return QStringLiteral("the file ends inside a quoted text");
    }
    if (found == 0) {
        return QStringLiteral("the file has no active GRUB_CMDLINE_LINUX_DEFAULT line");
    }
    if (found > 1) {
        return QStringLiteral("the file has more than one active GRUB_CMDLINE_LINUX_DEFAULT line");
    }
    return QString();
}
}

bool isSafeConfigValue(const QString &value)
{
    for (const QChar c : value) {
        if (c == QLatin1Char('"') || c == QLatin1Char('\\') || c.category() == QChar::Other_Control || c == QChar::LineSeparator
            || c == QChar::ParagraphSeparator) {
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
    return QStringLiteral(
               "Section \"Device\"\n"
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

QString checkGrubContent(const QByteArray &current, const QByteArray &proposed)
{
    int start = 0;
    int end = 0;
    const QString reason = locateCmdlineValue(current, &start, &end);
    if (!reason.isEmpty()) {
        return QStringLiteral("refusing to change the file: %1").arg(reason);
    }
    const int suffixSize = current.size() - end;
    if (proposed.size() < start + suffixSize || !proposed.startsWith(current.left(start)) || !proposed.endsWith(current.mid(end))) {
        return QStringLiteral("refusing a change outside the GRUB_CMDLINE_LINUX_DEFAULT value");
    }
    if (!isKernelParameterList(proposed.mid(start, proposed.size() - start - suffixSize))) {
        return QStringLiteral("refusing a GRUB_CMDLINE_LINUX_DEFAULT value that is not a list of kernel parameters");
    }
    return QString();
}

QStringList namesToPurge(const QStringList &nameSet, const PackageFacts &facts)
{
    const QSet<QString> members(nameSet.cbegin(), nameSet.cend());
    QStringList result;
    for (const QString &name : nameSet) {
        if (result.contains(name) || !facts.exists(name) || !facts.isAutoInstalled(name) || facts.isProtected(name)) {
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

QStringList alternativesToKeepOut(const QList<QStringList> &groups, const AlternativeFacts &facts)
{
    QStringList result;
    for (const QStringList &group : groups) {
        int satisfied = -1;
        for (int i = 0; i < group.size() && satisfied < 0; ++i) {
            if (facts.isSatisfied(group.at(i))) {
                satisfied = i;
            }
        }
        for (int i = 0; i < satisfied; ++i) {
            const QString &name = group.at(i);
            if (!result.contains(name) && facts.isInstallable(name)) {
                result << name;
            }
        }
    }
    return result;
}
}
