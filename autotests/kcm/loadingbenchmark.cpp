// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
// Measures how quickly the control module shows its loading state while a slow probe runs,
// and when the filled window becomes usable. Not a test: run it by hand.
//   kcm-loading-benchmark [probe-milliseconds]      (default 3000): a made-up probe that sleeps
//   kcm-loading-benchmark --real-probe              the host's own services and probe; run it on
//                                                   a made-up machine (loading-benchmark.sh)
// Runs on any Qt platform: QT_QPA_PLATFORM=offscreen, or a real X server through DISPLAY.
#include "device.h"
#include "mainmodule.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QPaintEvent>
#include <QThread>
#include <QTimer>

#include <cstdio>

namespace
{
Device adapter(const QString &vendor, const QString &name, const QString &busId, const QStringList &modules)
{
    Device device;
    device.setIdentityForTest(vendor, name, name, busId, QStringLiteral("0300"), Unknown);
    QList<Module> list;
    for (const QString &module : modules) {
        list.append({module, module, QString()});
    }
    device.setDriverListForTest(list, 0);
    return device;
}

// Notes when the first frame of the module has been painted: the first paint event of the
// module starts a repaint of the whole tree, which is done once the event loop is back.
class FirstFrame : public QObject
{
public:
    FirstFrame(QWidget *watched, const QElapsedTimer &clock)
        : m_watched(watched)
        , m_clock(clock)
    {
    }
    qint64 paintedAt = -1;

protected:
    bool eventFilter(QObject *object, QEvent *event) override
    {
        if (object == m_watched && event->type() == QEvent::Paint && paintedAt < 0 && !m_pending) {
            m_pending = true;
            QTimer::singleShot(0, this, [this] {
                paintedAt = m_clock.elapsed();
            });
        }
        return false;
    }

private:
    QWidget *m_watched;
    const QElapsedTimer &m_clock;
    bool m_pending = false;
};
}

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const bool realProbe = argc > 1 && qstrcmp(argv[1], "--real-probe") == 0;
    const int probeMs = realProbe ? -1 : argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 3000;

    MainModule::Services services;
    services.probe = [probeMs] {
        QThread::msleep(probeMs);
        return QList<Device>{
            adapter(QStringLiteral("Intel Corporation"), QStringLiteral("HD Graphics 630"), QStringLiteral("PCI:00@0000:02:0"), {QStringLiteral("i915")}),
            adapter(QStringLiteral("NVIDIA Corporation"),
                    QStringLiteral("GP107 [GeForce GTX 1050]"),
                    QStringLiteral("PCI:01@0000:00:0"),
                    {QStringLiteral("nouveau"), QStringLiteral("nvidia")})};
    };
    services.moduleVersion = [](const QString &) -> QString {
        return QStringLiteral("1.0");
    };
    services.renderer = [] {
        return QString();
    };
    if (realProbe) {
        services = MainModule::Services::system();
    }

    QElapsedTimer clock;
    clock.start();
    MainModule module(nullptr, QVariantList(), services);
    const qint64 constructed = clock.elapsed();
    FirstFrame frame(&module, clock);
    module.installEventFilter(&frame);
    module.show();

    qint64 enabledAt = -1;
    auto *gpuBox = module.findChild<QComboBox *>(QStringLiteral("gpuBox"));
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &app, [&] {
        if (gpuBox->isEnabled()) {
            enabledAt = clock.elapsed();
            app.quit();
        } else if (QApplication::activeModalWidget()) {
            app.quit(); // the probe found nothing: "Couldn't find any GPUs"
        }
    });
    poll.start(1);
    QTimer::singleShot(realProbe ? 120000 : probeMs + 10000, &app, &QApplication::quit);
    app.exec();

    std::printf("platform:                      %s\n", qPrintable(QGuiApplication::platformName()));
    if (realProbe) {
        std::printf("probe:                         real (%d adapters listed)\n", gpuBox->count());
    } else {
        std::printf("probe duration:                %d ms\n", probeMs);
    }
    std::printf("constructor returned after:    %lld ms\n", constructed);
    std::printf("loading state painted after:   %lld ms\n", frame.paintedAt);
    std::printf("filled window enabled after:   %lld ms\n", enabledAt);
    return frame.paintedAt >= 0 && enabledAt >= 0 ? 0 : 1;
}
