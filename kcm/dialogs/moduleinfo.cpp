// Placeholder bodies; see moduleinfo.h.
#include "moduleinfo.h"

#include <KLocalizedString>

ModuleInfo::ModuleInfo(QWidget *parent)
    : QDialog(parent)
{
}

bool ModuleInfo::updateInfo(const QString &, const QString &)
{
    return false;
}

QString ModuleInfo::version(const QString &)
{
    return i18n("unknown");
}
