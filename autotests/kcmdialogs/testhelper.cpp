// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
// A privileged helper for the tests only: it answers the way the real helper's package
// actions can answer (progress then success, an error description, plain success), so the
// progress dialog can be followed through real KAuth jobs.
#include <KAuth/ActionReply>
#include <KAuth/HelperSupport>

#include <QObject>
#include <QThread>
#include <QVariantMap>

class KcmDialogsTestHelper : public QObject
{
    Q_OBJECT
public Q_SLOTS:
    KAuth::ActionReply progress(const QVariantMap &args)
    {
        KAuth::HelperSupport::progressStep(37);
        // Long enough for the client to see the step before the reply.
        QThread::msleep(args.value(QStringLiteral("holdMs"), 1500).toUInt());
        return KAuth::ActionReply::SuccessReply();
    }

    KAuth::ActionReply succeed(const QVariantMap &)
    {
        return KAuth::ActionReply::SuccessReply();
    }

    KAuth::ActionReply fail(const QVariantMap &args)
    {
        KAuth::ActionReply reply = KAuth::ActionReply::HelperErrorReply();
        reply.setErrorDescription(args.value(QStringLiteral("description")).toString());
        return reply;
    }
};

KAUTH_HELPER_MAIN("org.corvo.kcm.videodrivertest", KcmDialogsTestHelper)

#include "testhelper.moc"
