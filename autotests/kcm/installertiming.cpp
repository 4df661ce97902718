// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later

// Times the installer as the Install button opens it: from the press (the dialog is made and
// shown, as the module's slot does) to the first moment its list is filled and it waits for
// the user. For scripts/benchmark-packages.sh; prints "<ms> <choices>" or fails with 1.
//
//   installer-timing MODALIAS   (QT_QPA_PLATFORM=offscreen, on the machine's own archive)
#include "driverpackagedialogs.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: installer-timing MODALIAS\n");
        return 1;
    }
    PackageDialogServices services = PackageDialogServices::system();
    services.runAction = nullptr; // never sends anything
    services.secureBoot = [] {
        return SecureBoot::State::NoTool;
    };
    QElapsedTimer sincePress;
    sincePress.start();
    DriverInstaller dialog(QString::fromLocal8Bit(argv[1]), Nvidia, nullptr, services);
    qint64 filledMs = -1;
    int choices = 0;
    QTimer poll;
    poll.setInterval(1);
    QObject::connect(&poll, &QTimer::timeout, &dialog, [&] {
        if (filledMs >= 0 || QApplication::activeModalWidget() != &dialog) {
            return;
        }
        filledMs = sincePress.elapsed();
        choices = dialog.findChild<QComboBox *>(QStringLiteral("driverBox"))->count();
        QMetaObject::invokeMethod(&dialog, &QDialog::reject, Qt::QueuedConnection);
    });
    poll.start();
    dialog.exec();
    if (filledMs < 0) {
        std::fprintf(stderr, "installer-timing: the installer never showed a filled list\n");
        return 1;
    }
    std::printf("%lld %d\n", static_cast<long long>(filledMs), choices);
    return 0;
}
