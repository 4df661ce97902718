// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
// The module tree index and the reading of the name a module file declares.
#include "modulediscovery.h"
#include "device.h"
#include "elfwriter.h"
#include "systempaths.h"
#include "visibleskip.h"

#include <QDirIterator>
#include <QFile>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>

namespace
{
// What a module of the amdgpu kind holds: trace formats with "name=" in the data before
// .modinfo; the first-record rule alone would make "%llu, timeline" of it.
const QByteArray decoy = "sched_job=%llu, timeline=%s, context=%u, seqno=%u, ring_name=%s, num_ibs=%u";

bool writeFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}
}

class ModuleDiscoveryTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void declaredNameFromData_data()
    {
        using namespace ElfWriter;
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("expected");

        const QByteArray modinfo = records({"license=GPL", "name=amdgpu", "vermagic=6.1.0"});
        QTest::newRow("64-bit, decoy before .modinfo") << elf64({{".rodata", records({decoy})}, {".modinfo", modinfo}}) << "amdgpu";
        QTest::newRow("32-bit, decoy before .modinfo") << elf32({{".rodata", records({decoy})}, {".modinfo", modinfo}}) << "amdgpu";
        QTest::newRow(".modinfo first of several") << elf64({{".modinfo", modinfo}, {".rodata", records({"name=other"})}}) << "amdgpu";
        QTest::newRow("name not the first .modinfo entry, others contain name=")
            << elf64({{".modinfo", records({"parmtype=devname=charp", "name=i915"})}}) << "i915";
        QTest::newRow("similar section name is not .modinfo")
            << elf64({{".modinfo.x", records({"name=wrong"})}, {".modinfo", records({"name=right"})}}) << "right";
        QTest::newRow("ELF without .modinfo: first record") << elf64({{".rodata", records({decoy, "name=late"})}}) << "%llu, timeline";
        QTest::newRow(".modinfo without name: first record")
            << elf64({{".rodata", records({"author=x", "modname=y=z"})}, {".modinfo", records({"license=GPL"})}}) << "y";
        QTest::newRow("not ELF: x=y=name=z gives y") << records({"foo", "x=y", "x=y=name=z", "name=later"}) << "y";
        QTest::newRow("not ELF: record without separator after") << QByteArray("abc\0name=tail", 13) << "tail";
        QTest::newRow("not ELF: name= alone is empty") << records({"name="}) << QString();
        QTest::newRow("not ELF: no record") << records({"license=GPL", "vermagic=1"}) << QString();
        QTest::newRow("empty") << QByteArray() << QString();
        QTest::newRow("ELF magic only") << QByteArray(
            "\x7f"
            "ELF") << QString();
        QByteArray truncated = elf64({{".modinfo", records({"name=cut"})}});
        truncated.chop(10); // the section header table runs past the end
        QTest::newRow("truncated ELF: text rule") << truncated << "cut";
        // The section name table ends in the middle of ".modinfo": that section is not it.
        QByteArray cutNames = elf64({{".rodata", records({"name=text"})}, {".modinfo", records({"name=viacut"})}});
        {
            Elf64_Ehdr eh;
            std::memcpy(&eh, cutNames.constData(), sizeof eh);
            const qint64 namesHeader = qint64(eh.e_shoff) + qint64(eh.e_shstrndx) * qint64(sizeof(Elf64_Shdr));
            Elf64_Shdr sh;
            std::memcpy(&sh, cutNames.constData() + namesHeader, sizeof sh);
            sh.sh_size = 1 + sizeof(".rodata") + 4; // "\0.rodata\0.mod"
            std::memcpy(cutNames.data() + namesHeader, &sh, sizeof sh);
        }
        QTest::newRow("section name table cut inside .modinfo") << cutNames << "text";

        // Offsets near the top of the 64-bit range, whose sum with a length wraps around to a
        // small number: the file is then read by the text rule only, never outside its bytes.
        // The text rule and a .modinfo read of the wrong bytes give different names here.
        const QByteArray textFirst = records({"modname=text", "name=wrong"});
        QByteArray hugeTable = elf64({{".rodata", textFirst}, {".modinfo", records({"name=right"})}});
        {
            Elf64_Ehdr eh;
            std::memcpy(&eh, hugeTable.constData(), sizeof eh);
            eh.e_shoff = 0xffffffffffffff00; // + 4 headers of 64 bytes wraps around to 0
            std::memcpy(hugeTable.data(), &eh, sizeof eh);
        }
        QTest::newRow("section table offset 0xffffffffffffff00") << hugeTable << "text";
        QByteArray hugeSection = elf64({{".rodata", textFirst}, {".modinfo", records({"name=right"})}});
        {
            Elf64_Ehdr eh;
            std::memcpy(&eh, hugeSection.constData(), sizeof eh);
            const qint64 modinfoHeader = qint64(eh.e_shoff) + 2 * qint64(sizeof(Elf64_Shdr));
            Elf64_Shdr sh;
            std::memcpy(&sh, hugeSection.constData() + modinfoHeader, sizeof sh);
            sh.sh_offset = 0xffffffffffffff00;
            sh.sh_size = 0x200; // the sum wraps to 0x100, inside the file
            std::memcpy(hugeSection.data() + modinfoHeader, &sh, sizeof sh);
        }
        QTest::newRow(".modinfo offset 0xffffffffffffff00") << hugeSection << "text";
    }

    void declaredNameFromData()
    {
        QFETCH(QByteArray, data);
        QFETCH(QString, expected);
        QCOMPARE(ModuleFiles::declaredNameFromData(data), expected);
    }

    // The same through files, with Device::displayName's fallback.
    void displayName_data()
    {
        using namespace ElfWriter;
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<bool>("create");
        QTest::addColumn<QString>("expected");
        QTest::newRow(".modinfo name") << elf64({{".rodata", records({decoy})}, {".modinfo", records({"name=amdgpu"})}}) << true << "amdgpu";
        QTest::newRow("text record") << records({"x=y=name=z"}) << true << "y";
        QTest::newRow("nothing declared") << records({"license=GPL"}) << true << "fallback-name";
        QTest::newRow("empty file") << QByteArray() << true << "fallback-name";
        QTest::newRow("missing file") << QByteArray() << false << "fallback-name";
    }

    void displayName()
    {
        QFETCH(QByteArray, data);
        QFETCH(bool, create);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("mod.ko"));
        if (create) {
            QVERIFY(writeFile(path, data));
        }
        QCOMPARE(Device::displayName(path, QStringLiteral("fallback-name")), expected);
    }

    void displayNameOfFolder()
    {
        QTemporaryDir dir;
        QCOMPARE(Device::displayName(dir.path(), QStringLiteral("fallback-name")), QStringLiteral("fallback-name"));
    }

    // An object file the C++ compiler made, so the reader meets a real toolchain's layout.
    void compiledObject()
    {
        const QString path = qEnvironmentVariable("MODINFO_SAMPLE_OBJECT");
        if (path.isEmpty()) {
            TEST_SKIP("MODINFO_SAMPLE_OBJECT (set by CTest) names no sample object");
        }
        QVERIFY2(QFile::exists(path), qPrintable(path));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        // the trace text comes first in the file, so reading records alone would be misled
        QCOMPARE(ModuleFiles::firstNameRecord(file.readAll()), QStringLiteral("%llu, timeline"));
        QCOMPARE(Device::displayName(path, QStringLiteral("fallback")), QStringLiteral("sample_gpu"));
    }

    void fileNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("dashed");
        QTest::addColumn<QString>("fileName");
        QTest::newRow("underscore") << "nvidia_drm"
                                    << "nvidia-drm"
                                    << "nvidia-drm.ko";
        QTest::newRow("two underscores") << "snd_hda_intel"
                                         << "snd-hda-intel"
                                         << "snd-hda-intel.ko";
        QTest::newRow("plain") << "i915"
                               << "i915"
                               << "i915.ko";
        QTest::newRow("dash stays") << "nvidia-uvm"
                                    << "nvidia-uvm"
                                    << "nvidia-uvm.ko";
    }

    void fileNames()
    {
        QFETCH(QString, name);
        QFETCH(QString, dashed);
        QFETCH(QString, fileName);
        QCOMPARE(ModuleFiles::dashedName(name), dashed);
        QCOMPARE(ModuleFiles::fileNameFor(name), fileName);
    }

    void runningKernelTree()
    {
        QCOMPARE(ModuleIndex::runningKernelTree(), QStringLiteral("/usr/lib/modules/") + QSysInfo::kernelVersion());
    }

    // Among several files of one name the index keeps the first the directory walk meets: the
    // walk goes depth first, in the order the file system lists a folder. A tmpfs lists the
    // newest entry first, so in a tree made in /dev/shm the last folder made is searched first,
    // all the way down, before the file at the top made before it.
    void indexFirstMatchInWalkOrder()
    {
        QTemporaryDir dir(QStringLiteral("/dev/shm/modulewalk-XXXXXX"));
        QVERIFY(dir.isValid());
        for (const char *copy : {"i915.ko", "kernel/drivers/gpu/drm/i915/i915.ko", "updates/i915.ko", "extra/a/b/i915.ko"}) {
            QVERIFY(writeFile(dir.filePath(QString::fromLatin1(copy)), "x"));
        }
        const ModuleIndex index(dir.path());
        QCOMPARE(index.find(QStringLiteral("i915.ko")), dir.filePath(QStringLiteral("extra/a/b/i915.ko")));
        QCOMPARE(index.find(QStringLiteral("I915.ko")), QString()); // names compare case-sensitively
        QCOMPARE(ModuleIndex(dir.filePath(QStringLiteral("absent"))).find(QStringLiteral("i915.ko")), QString());
    }

    void indexFollowsLinkedFolders()
    {
        QTemporaryDir tree;
        QTemporaryDir elsewhere;
        QVERIFY(writeFile(elsewhere.filePath(QStringLiteral("dkms/nvidia-drm.ko")), "x"));
        QVERIFY(QFile::link(elsewhere.path(), tree.filePath(QStringLiteral("updates"))));
        const ModuleIndex index(tree.path());
        QCOMPARE(index.find(QStringLiteral("nvidia-drm.ko")), tree.filePath(QStringLiteral("updates/dkms/nvidia-drm.ko")));
    }

    // Module discovery over a tree: file names, fallbacks, duplicates.
    void parseDriverList()
    {
        using namespace ElfWriter;
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath(QStringLiteral("updates/dkms/nvidia-drm.ko")),
                          elf64({{".rodata", records({decoy})}, {".modinfo", records({"name=nvidia_drm"})}})));
        QVERIFY(writeFile(dir.filePath(QStringLiteral("kernel/drivers/gpu/drm/i915/i915.ko.xz")), "compressed"));
        QVERIFY(writeFile(dir.filePath(QStringLiteral("kernel/drivers/gpu/drm/ast/ast_drm.ko")), records({"license=GPL"})));
        QVERIFY(writeFile(dir.filePath(QStringLiteral("kernel/drivers/gpu/drm/ast/ast-drm.ko")), records({"license=GPL"})));
        const ModuleIndex index(dir.path());

        const QStringList names = {QStringLiteral("nvidia_drm"),
                                   QString(),
                                   QStringLiteral("i915"),
                                   QStringLiteral("nvidia_drm"),
                                   QStringLiteral("ast_drm"),
                                   QStringLiteral("nouveau"),
                                   QStringLiteral("i915")};
        const QList<Module> modules = Device().parseDriverList(&names, &index);
        const QList<Module> expected = {
            {QStringLiteral("nvidia_drm"), QStringLiteral("nvidia_drm"), dir.filePath(QStringLiteral("updates/dkms/nvidia-drm.ko"))},
            {QStringLiteral("i915"), QStringLiteral("i915"), QString()}, // only compressed: not found
            // the dashed file, which declares no name: the dashed name stands in
            {QStringLiteral("ast_drm"), QStringLiteral("ast-drm"), dir.filePath(QStringLiteral("kernel/drivers/gpu/drm/ast/ast-drm.ko"))},
            {QStringLiteral("nouveau"), QStringLiteral("nouveau"), QString()},
        };
        QCOMPARE(modules.size(), expected.size());
        for (int i = 0; i < expected.size(); ++i) {
            QCOMPARE(modules.at(i).trueName, expected.at(i).trueName);
            QCOMPARE(modules.at(i).displayName, expected.at(i).displayName);
            QCOMPARE(modules.at(i).path, expected.at(i).path);
        }
        QVERIFY(Device().parseDriverList(nullptr, &index).isEmpty());
    }

    // Two probe names that lead to one file stay two modules: they differ in trueName.
    void namesSharingAFile()
    {
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath(QStringLiteral("nvidia-drm.ko")), ElfWriter::records({"name=nvidia_drm"})));
        const ModuleIndex index(dir.path());
        const QStringList names = {QStringLiteral("nvidia_drm"), QStringLiteral("nvidia-drm")};
        const QList<Module> modules = Device().parseDriverList(&names, &index);
        QCOMPARE(modules.size(), 2);
        QCOMPARE(modules.at(0).path, modules.at(1).path);
        QCOMPARE(modules.at(1).trueName, QStringLiteral("nvidia-drm"));
        QCOMPARE(modules.at(1).displayName, QStringLiteral("nvidia_drm"));
    }
};

VISIBLE_SKIP_GUILESS_MAIN(ModuleDiscoveryTest)
#include "modulediscoverytest.moc"
