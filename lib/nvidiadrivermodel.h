// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QAbstractListModel>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVersionNumber>

// The driver variant of an NVIDIA package.
enum class NvidiaDriverType : qint32 {
    Proprietary = 0, // proprietary kernel modules built with DKMS
    Open = 1, // the open-source kernel modules
    NoDkms = 2, // proprietary modules that are not built with DKMS
    Other = 3, // a fresh record; the catalogue always replaces it
};

// One NVIDIA driver package on offer for one adapter.
struct NvidiaDriver {
    QString name;
    QVersionNumber version;
    NvidiaDriverType type = NvidiaDriverType::Other;
    bool supported = false;
    bool recommended = false;
    bool installed = false;
    // Packages that must go into the same transaction for this variant to install at all:
    // the open kernel modules come with the driver package they are built for.
    QStringList companions;
};

// The list of NVIDIA driver packages the installer shows in its combo box, in priority order,
// with the state tags in the display text and the variant's description in the tool tip.
class NvidiaDriverModel : public QAbstractListModel
{
    Q_OBJECT
public:
    explicit NvidiaDriverModel(QObject *parent = nullptr);

    void setDrivers(const QList<NvidiaDriver> &drivers);
    QList<NvidiaDriver> drivers() const;

    // Installed first, then the recommendation, then supported ones, then by variant
    // (proprietary, open, without DKMS) and finally the higher version first.
    void sortNvidiaDriversByPriority();

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    static QString driverDescription(const NvidiaDriver &driver);

    // The version of the driver in use as the NVIDIA management tool reports it (one line per
    // adapter), or a null string when the tool is missing, fails or hangs.
    static QString currentVersion();

    // Whether a comes before b in the priority order.
    static bool isBefore(const NvidiaDriver &a, const NvidiaDriver &b);

private:
    QList<NvidiaDriver> m_drivers;
};
