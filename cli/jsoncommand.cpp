// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "jsoncommand.h"
#include "gpulookup.h"
#include "helperclient.h"
#include "jsonoutput.h"
#include "systempaths.h"
#include "xorgdrivers.h"

#include <KLocalizedString>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHash>
#include <QJsonArray>
#include <QLibrary>

namespace JsonCommand
{
namespace
{
int listGpus(const QStringList &, QList<Device> &gpus, QJsonObject &document)
{
    QJsonArray list;
    for (const Device &gpu : qAsConst(gpus)) {
        list.append(JsonOutput::gpuObject(gpu));
    }
    document.insert(QStringLiteral("gpus"), list);
    return 0;
}

int listModules(const QStringList &args, QList<Device> &gpus, QJsonObject &document)
{
    const auto gpu = findGpu(args.value(1), gpus);
    if (gpu == gpus.end()) {
        return -1;
    }
    // As in the plain listing: only a module the adapter is really bound to is in use.
    const QString current = gpu->hasModuleInUse() ? gpu->currentDriver().displayName : QString();
    const QStringList installed = XOrgDrivers::installedDrivers(SystemPaths::xorgDriverDirs());
    QJsonArray modules;
    for (const Module &module : gpu->driverList()) {
        modules.append(QJsonObject{
            {QStringLiteral("name"), module.displayName},
            {QStringLiteral("probeName"), module.trueName},
            {QStringLiteral("file"), module.path.isEmpty() ? QJsonValue() : QJsonValue(module.path)},
            {QStringLiteral("inUse"), !current.isEmpty() && module.displayName == current},
            // What set-module writes into the switch snippet for it.
            {QStringLiteral("xorgDriver"), HelperRequests::xorgDriverForModule(module, installed)},
        });
    }
    document.insert(QStringLiteral("gpu"), JsonOutput::gpuObject(*gpu));
    document.insert(QStringLiteral("modules"), modules);
    return 0;
}

int listXOrg(const QStringList &args, QList<Device> &gpus, QJsonObject &document)
{
    const auto gpu = findGpu(args.value(1), gpus);
    if (gpu == gpus.end()) {
        return -1;
    }
    QJsonArray drivers;
    for (const XOrgDrivers::Listed &driver : XOrgDrivers::listedDrivers(gpu->xorgDriver(), SystemPaths::xorgDriverDirs())) {
        drivers.append(QJsonObject{{QStringLiteral("name"), driver.name}, {QStringLiteral("inUse"), driver.inUse}});
    }
    document.insert(QStringLiteral("gpu"), JsonOutput::gpuObject(*gpu));
    document.insert(QStringLiteral("xorgDrivers"), drivers);
    return 0;
}

// The JSON forms of list-packages and intel-accel-status live in the change module, with QApt.
int runInModule(const QString &action, const QStringList &args, QList<Device> &gpus, QByteArray &document)
{
    // Next to the program as it was built or installed; never unloaded.
    QLibrary module(QCoreApplication::applicationDirPath() + QLatin1Char('/') + SystemPaths::cliChangesModule());
    const auto run = reinterpret_cast<CorvoRunJson>(module.resolve(CORVO_RUN_JSON_SYMBOL));
    if (!run) {
        document = JsonOutput::errorDocument(i18n("The action %1 cannot be loaded: %2", action, module.errorString()));
        return -1;
    }
    return run(action, args, gpus, document);
}

int runAction(QCommandLineParser &parser, const QMap<QString, ActionEntry> &actions, QByteArray &document)
{
    static const QHash<QString, JsonOutput::Handler> here = {
        {QStringLiteral("list-gpus"), listGpus},
        {QStringLiteral("list-modules"), listModules},
        {QStringLiteral("list-xorg"), listXOrg},
    };
    static const QStringList inModule = {QStringLiteral("list-packages"), QStringLiteral("intel-accel-status")};

    // The exit statuses are those of the plain run: 1 for an unknown option (as Qt's parser
    // exits), 0 where the plain run prints its help, 255 for a failed action.
    if (!parser.parse(QCoreApplication::arguments())) {
        document = JsonOutput::errorDocument(parser.errorText());
        return 1;
    }
    const QStringList args = parser.positionalArguments();
    if (args.isEmpty()) {
        document = JsonOutput::errorDocument(i18n("No action is given."));
        return 0;
    }
    const auto found = actions.constFind(args.first());
    if (found == actions.constEnd()) {
        document = JsonOutput::errorDocument(i18n("Unknown action: %1", args.first()));
        return 0;
    }
    const ActionEntry &action = *found;
    if (!here.contains(action.name) && !inModule.contains(action.name)) {
        document = JsonOutput::errorDocument(i18n("The action %1 has no JSON output.", action.name));
        return -1;
    }
    if (args.size() != action.arguments.size() + 1) {
        QString syntax = action.name;
        for (const auto &argument : action.arguments) {
            syntax += QStringLiteral(" <") + argument.first + QLatin1Char('>');
        }
        document = JsonOutput::errorDocument(i18n("Usage: %1 --json %2", QCoreApplication::applicationName(), syntax));
        return 0;
    }

    QList<Device> gpus = probeGpus(ProbeFilter::AllDisplayClass, HardwareScan::DisplayRecords, action.probe);
    if (inModule.contains(action.name)) {
        return runInModule(action.name, args, gpus, document);
    }
    return JsonOutput::run(here.value(action.name), args, gpus, document);
}
}

QCommandLineOption option()
{
    QCommandLineOption json(QStringLiteral("json"), i18n("Prints the result as one JSON document"));
    json.setFlags(QCommandLineOption::HiddenFromHelp);
    return json;
}

int run(QCommandLineParser &parser, const QMap<QString, ActionEntry> &actions)
{
    QByteArray document;
    const int status = runAction(parser, actions, document);
    JsonOutput::print(document);
    return status;
}
}
