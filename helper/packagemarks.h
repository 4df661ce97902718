#pragma once

#include <QString>
#include <QStringList>

namespace QApt
{
class Backend;
}

namespace PackageMarks
{
// Marks the named packages in an initialised backend: for installation, or for purge together
// with the dependencies and recommendations no installed package outside them still needs.
// Every name is looked up before anything is marked, so on failure no mark is left; the
// failure is "Cannot find package <name>" for the first unknown name, or a refusal naming the
// first Essential or Priority required package.
QString mark(QApt::Backend *backend, const QStringList &names, bool remove);
}
