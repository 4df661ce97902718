// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "actiontable.h"
#include "device.h"
#include "jsoncommand.h"
#include "output.h"

#include <KLocalizedString>

#include <QCommandLineParser>
#include <QCoreApplication>

namespace
{
int printHelp(const QCommandLineParser &parser)
{
    // helpText() already ends with a line feed; Output::line adds its own.
    QString help = parser.helpText();
    if (help.endsWith(QLatin1Char('\n'))) {
        help.chop(1);
    }
    Output::line(help);
    return 0;
}
}

int runAction(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("corvo-admin-driver"));
    KLocalizedString::setApplicationDomain("corvo-admin-driver");

    const QMap<QString, ActionEntry> actions = buildActionTable();

    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("action"), i18n("Action to execute"), QString());
    const QCommandLineOption listActions({QStringLiteral("actions"), QStringLiteral("a")}, i18n("Provides information about available actions"));
    parser.addOption(listActions);
    const QCommandLineOption json = JsonCommand::option();
    parser.addOption(json);
    parser.parse(QCoreApplication::arguments());

    if (parser.isSet(listActions)) {
        for (const ActionEntry &entry : actions) {
            Output::line(i18nc("@info action name: its description", "%1: %2", entry.name, entry.description));
        }
        return 0;
    }

    if (parser.isSet(json)) {
        return JsonCommand::run(parser, actions);
    }

    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty()) {
        return printHelp(parser);
    }
    const auto found = actions.constFind(positional.first());
    if (found == actions.constEnd()) {
        return printHelp(parser);
    }
    const ActionEntry &action = *found;

    QString syntax = action.name;
    for (const auto &argument : action.arguments) {
        syntax += QStringLiteral(" <") + argument.first + QLatin1Char('>');
    }
    syntax += QLatin1Char('\n');
    parser.clearPositionalArguments();
    parser.addPositionalArgument(action.name, action.description, syntax);
    for (const auto &argument : action.arguments) {
        parser.addPositionalArgument(argument.first, argument.second, QString());
    }
    parser.process(app);

    const QStringList args = parser.positionalArguments();
    if (args.size() != action.arguments.size() + 1) {
        return printHelp(parser);
    }
    QList<Device> gpus = probeGpus(ProbeFilter::AllDisplayClass, HardwareScan::DisplayRecords, action.probe);
    return action.handler(args, gpus);
}

int main(int argc, char *argv[])
{
    return runAction(argc, argv);
}
