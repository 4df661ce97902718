// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Tests that need the fixture namespace (and the private system bus) start themselves through
// the harness scripts: run from CTest or by hand, the binary re-executes itself as
//   <harness program> [harness args...] <this binary> [its args...]
// and runs its cases only once it is inside. A harness that cannot run here (no root) exits
// with 77, which CTest reports as SKIP.

#include <QByteArray>
#include <QList>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace HarnessMain
{
constexpr const char *insideMarker = "CORVO_HELPER_TEST_IN_HARNESS";

// Returns only when already inside the harness; otherwise execs it (or exits on failure).
inline void enterHarness(int argc, char **argv, const QList<QByteArray> &harness)
{
    if (qEnvironmentVariableIsSet(insideMarker)) {
        return;
    }
    ::setenv(insideMarker, "1", 1);
    char self[4096];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof(self) - 1);
    if (length <= 0) {
        std::perror("readlink /proc/self/exe");
        std::exit(1);
    }
    self[length] = '\0';
    QList<QByteArray> args = harness;
    args << QByteArray(self);
    for (int i = 1; i < argc; ++i) {
        args << QByteArray(argv[i]);
    }
    QVector<char *> raw;
    for (QByteArray &arg : args) {
        raw << arg.data();
    }
    raw << nullptr;
    ::execv(raw.first(), raw.data());
    std::perror("cannot start the test harness");
    std::exit(1);
}
}

#define HARNESS_TEST_MAIN(TestObject, ...)                                                                                                                     \
    int main(int argc, char **argv)                                                                                                                            \
    {                                                                                                                                                          \
        HarnessMain::enterHarness(argc, argv, {__VA_ARGS__});                                                                                                  \
        QCoreApplication app(argc, argv);                                                                                                                      \
        TestObject test;                                                                                                                                       \
        QTEST_SET_MAIN_SOURCE_PATH                                                                                                                             \
        return QTest::qExec(&test, argc, argv);                                                                                                                \
    }
