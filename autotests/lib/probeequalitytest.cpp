// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
// Probes scan the PCI bus with a part of libhd's probing only (HardwareScan::DisplayRecords).
// This test runs both scans on the machine it finds itself on and demands the same result:
// every PCI record as libhd itself prints it, and every adapter built from the records.
// autotests/harness/gpu-fixture.sh runs it on each made-up machine before the command it was
// given, when GPU_FIXTURE_PROBE_CHECK names it (CTest sets that for every test).
#include "device.h"
#include "hardwarescan.h"

#include <QRegularExpression>
#include <QTest>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace
{
struct Scan {
    QStringList records; // libhd's own text of each PCI record, in list order
};

// libhd numbers its records across every feature it probes, so the same device has another
// number when fewer features ran: the numbers, and the references to them, are left out.
QString withoutRecordNumbers(QString text)
{
    static const QRegularExpression number(QStringLiteral("^\\d+: "));
    static const QRegularExpression reference(QStringLiteral("(Attached to: )#\\d+"));
    text.remove(number);
    text.replace(reference, QStringLiteral("\\1#"));
    return text;
}

QStringList recordTexts(HardwareScan scan)
{
    QStringList result;
    hd_data_t *context = static_cast<hd_data_t *>(calloc(1, sizeof(hd_data_t)));
    if (!context) {
        return result;
    }
    hd_t *records = scanPciBus(context, scan);
    for (hd_t *record = records; record; record = record->next) {
        char *buffer = nullptr;
        size_t size = 0;
        FILE *out = open_memstream(&buffer, &size);
        hd_dump_entry(context, record, out);
        fclose(out);
        result << withoutRecordNumbers(QString::fromUtf8(buffer, int(size)));
        free(buffer);
    }
    hd_free_hd_list(records);
    hd_free_hd_data(context);
    free(context);
    return result;
}
}

class ProbeEqualityTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void leanScanGivesLibhdsRecords()
    {
        const QStringList lean = recordTexts(HardwareScan::DisplayRecords);
        const QStringList full = recordTexts(HardwareScan::LibhdDefault);
        QCOMPARE(lean.size(), full.size());
        for (int i = 0; i < lean.size(); ++i) {
            QCOMPARE(lean.at(i), full.at(i));
        }

        const QList<Device> leanGpus = probeGpus(ProbeFilter::AllDisplayClass, HardwareScan::DisplayRecords);
        const QList<Device> fullGpus = probeGpus(ProbeFilter::AllDisplayClass, HardwareScan::LibhdDefault);
        QCOMPARE(leanGpus.size(), fullGpus.size());
        for (int i = 0; i < leanGpus.size(); ++i) {
            QVERIFY2(leanGpus.at(i) == fullGpus.at(i), qPrintable(leanGpus.at(i).sysfsBusId()));
        }
    }
};

QTEST_GUILESS_MAIN(ProbeEqualityTest)
#include "probeequalitytest.moc"
