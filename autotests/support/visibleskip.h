// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// QtTest ends with status 0 when a case calls QSKIP, so CTest would count a test that checked
// nothing as passed. Tests skip through TEST_SKIP instead and start through one of the main
// macros below: a run in which something was skipped and nothing failed ends with status 77,
// which CTest shows as SKIPPED (every test carries SKIP_RETURN_CODE 77). In CI (CI=true: root
// on Debian 12, every tool installed) nothing may be skipped, so there the skip is a failure.

#include <QByteArray>
#include <QCoreApplication>
#include <QtTest>

namespace VisibleSkip
{
constexpr int skippedStatus = 77;

inline bool &anySkipped()
{
    static bool skipped = false;
    return skipped;
}

inline bool inCi()
{
    return qgetenv("CI") == QByteArrayLiteral("true");
}

// The status of the whole run from QTest::qExec's.
inline int runStatus(int qexecStatus)
{
    return qexecStatus == 0 && anySkipped() ? skippedStatus : qexecStatus;
}
}

#define TEST_SKIP(reason)                                                                                                                                      \
    do {                                                                                                                                                       \
        if (VisibleSkip::inCi()) {                                                                                                                             \
            QFAIL(qPrintable(QStringLiteral("would skip, which CI does not allow: ") + QString::fromUtf8(reason)));                                            \
        }                                                                                                                                                      \
        VisibleSkip::anySkipped() = true;                                                                                                                      \
        QSKIP(reason);                                                                                                                                         \
    } while (false)

#define VISIBLE_SKIP_MAIN_WITH(AppClass, TestObject)                                                                                                           \
    int main(int argc, char **argv)                                                                                                                            \
    {                                                                                                                                                          \
        AppClass app(argc, argv);                                                                                                                              \
        TestObject test;                                                                                                                                       \
        QTEST_SET_MAIN_SOURCE_PATH                                                                                                                             \
        return VisibleSkip::runStatus(QTest::qExec(&test, argc, argv));                                                                                        \
    }

// QTEST_MAIN's choice of application class.
#if defined(QT_WIDGETS_LIB)
#define VISIBLE_SKIP_MAIN(TestObject) VISIBLE_SKIP_MAIN_WITH(QApplication, TestObject)
#elif defined(QT_GUI_LIB)
#define VISIBLE_SKIP_MAIN(TestObject) VISIBLE_SKIP_MAIN_WITH(QGuiApplication, TestObject)
#else
#define VISIBLE_SKIP_MAIN(TestObject) VISIBLE_SKIP_MAIN_WITH(QCoreApplication, TestObject)
#endif
#define VISIBLE_SKIP_GUILESS_MAIN(TestObject) VISIBLE_SKIP_MAIN_WITH(QCoreApplication, TestObject)
