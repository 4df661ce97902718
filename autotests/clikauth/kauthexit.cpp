// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
// The smallest KAuth client: runs one helper action, prints how it ended and leaves main()
// normally, with nothing of this project's client code in between. Tells a fault of the
// libraries' own exit path (KAuth, Qt's D-Bus, polkit-qt) from one of the project's code.
// Usage: kauthexit HELPER_ID ACTION_NAME [KEY=VALUE...]
#include <KAuth/Action>
#include <KAuth/ExecuteJob>

#include <QCoreApplication>
#include <QVariantMap>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: kauthexit HELPER_ID ACTION_NAME [KEY=VALUE...]\n");
        return 2;
    }
    QVariantMap arguments;
    for (int i = 3; i < argc; ++i) {
        const QString pair = QString::fromLocal8Bit(argv[i]);
        arguments.insert(pair.section(QLatin1Char('='), 0, 0), pair.section(QLatin1Char('='), 1));
    }
    KAuth::Action action(QString::fromLocal8Bit(argv[2]));
    action.setHelperId(QString::fromLocal8Bit(argv[1]));
    action.setArguments(arguments);
    KAuth::ExecuteJob *job = action.execute();
    const bool ok = job->exec();
    std::printf("%s: %d %s\n", ok ? "done" : "failed", job->error(), qPrintable(job->errorString()));
    return ok ? 0 : 1;
}
