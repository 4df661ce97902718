// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "packagemarks.h"

#include "helperlogic.h"

#include <QRegularExpression>
#include <QSet>

#include <qapt/backend.h>
#include <qapt/dependencyinfo.h>
#include <qapt/package.h>

namespace
{
// Packages the system cannot do without: dpkg keeps Essential ones, and Priority required ones
// are what a minimal Debian is made of. A driver manager installs or removes neither.
bool isProtected(QApt::Package *package)
{
    return (package->state() & QApt::Package::IsImportant) || package->priority() == QLatin1String("required")
        || package->controlField(QStringLiteral("Essential")).compare(QLatin1String("yes"), Qt::CaseInsensitive) == 0;
}

void markForPurge(QApt::Backend *backend, QApt::Package *package)
{
    QStringList nameSet;
    const QList<QApt::DependencyItem> groups = package->depends() + package->recommends();
    for (const QApt::DependencyItem &group : groups) {
        for (const QApt::DependencyInfo &alternative : group) {
            nameSet << alternative.packageName();
        }
    }
    nameSet << package->name();

    HelperLogic::PackageFacts facts;
    facts.exists = [backend](const QString &n) {
        return backend->package(n) != nullptr;
    };
    facts.isInstalled = [backend](const QString &n) {
        QApt::Package *p = backend->package(n);
        return p && p->isInstalled();
    };
    facts.isAutoInstalled = [backend](const QString &n) {
        QApt::Package *p = backend->package(n);
        return p && (p->state() & QApt::Package::IsAuto);
    };
    facts.isProtected = [backend](const QString &n) {
        QApt::Package *p = backend->package(n);
        return p && isProtected(p);
    };
    facts.requiredBy = [backend](const QString &n) {
        QApt::Package *p = backend->package(n);
        return p ? p->requiredByList() : QStringList();
    };
    for (const QString &name : HelperLogic::namesToPurge(nameSet, facts)) {
        backend->package(name)->setPurge();
    }
    package->setPurge(); // the package itself goes whatever the rule said about its own name
}
}

namespace PackageMarks
{
QString mark(QApt::Backend *backend, const QStringList &names, bool remove)
{
    // Debian package names (with an optional architecture). Anything else is not looked up at
    // all: APT would read a name with a NUL in it only up to the NUL.
    static const QRegularExpression validName(QStringLiteral("\\A[a-z0-9][a-z0-9+.\\-]{0,254}(:[a-z0-9\\-]{1,32})?\\z"));
    for (const QString &name : names) {
        if (!validName.match(name).hasMatch() || !backend->package(name)) {
            return QStringLiteral("Cannot find package %1").arg(name);
        }
    }
    for (const QString &name : names) {
        if (isProtected(backend->package(name))) {
            return QStringLiteral("Refusing to %1 %2: it is an Essential package or of Priority required")
                .arg(remove ? QStringLiteral("remove") : QStringLiteral("install"), name);
        }
    }
    for (const QString &name : names) {
        QApt::Package *package = backend->package(name);
        if (remove) {
            markForPurge(backend, package);
        } else {
            package->setInstall();
        }
    }
    return QString();
}

QStringList alternativesToKeepOut(QApt::Backend *backend)
{
    const QApt::PackageList marked = backend->markedPackages();
    QSet<QString> provided;
    QList<QStringList> groups;
    for (const QApt::Package *package : marked) {
        if (!(package->state() & QApt::Package::ToInstall)) {
            continue;
        }
        provided.insert(package->name());
        for (const QString &name : package->providesList()) {
            provided.insert(name.section(QLatin1Char(' '), 0, 0));
        }
        for (const QApt::DependencyItem &item : package->depends()) {
            if (item.size() < 2) {
                continue;
            }
            QStringList group;
            for (const QApt::DependencyInfo &alternative : item) {
                group << alternative.packageName();
            }
            groups << group;
        }
    }
    HelperLogic::AlternativeFacts facts;
    facts.isSatisfied = [&](const QString &name) {
        if (provided.contains(name)) {
            return true;
        }
        const QApt::Package *package = backend->package(name);
        return package && package->isInstalled();
    };
    facts.isInstallable = [&](const QString &name) {
        const QApt::Package *package = backend->package(name);
        return package && !package->isInstalled() && !provided.contains(name) && !package->availableVersion().isEmpty();
    };
    return HelperLogic::alternativesToKeepOut(groups, facts);
}

QVariantMap instructions(QApt::Backend *backend, const QStringList &keepOut)
{
    const QString native = backend->nativeArchitecture();
    const auto key = [&native](const QApt::Package *package) {
        const QString arch = package->architecture();
        const QString name = package->name();
        return arch == native || arch == QLatin1String("all") ? name : name + QLatin1Char(':') + arch;
    };
    QVariantMap map;
    for (const QApt::Package *package : backend->markedPackages()) {
        const int state = package->state();
        if (state & (QApt::Package::ToReInstall | QApt::Package::ToDowngrade)) {
            return {};
        }
        if (state & QApt::Package::ToRemove) {
            map.insert(key(package), int(state & QApt::Package::ToPurge ? QApt::Package::ToPurge : QApt::Package::ToRemove));
        } else if (state & QApt::Package::ToUpgrade) {
            map.insert(key(package), int(QApt::Package::ToUpgrade));
        } else if ((state & QApt::Package::NewInstall) && !(state & QApt::Package::IsAuto)) {
            map.insert(key(package), int(QApt::Package::ToInstall));
        }
    }
    for (const QString &name : keepOut) {
        if (const QApt::Package *package = backend->package(name)) {
            map.insert(key(package), int(QApt::Package::Held));
        }
    }
    return map;
}
}
