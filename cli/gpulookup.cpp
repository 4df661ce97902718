#include "gpulookup.h"
#include "output.h"

#include <KLocalizedString>

QList<Device>::iterator findGpu(const QString &argument, QList<Device> &gpus)
{
    for (auto it = gpus.begin(); it != gpus.end(); ++it) {
        if (it->model() == argument || it->sysfsBusId() == argument || it->vendorName() == argument) {
            return it;
        }
    }
    Output::line(i18n("Couldn't find GPU by BusID / Model / Vendor using argument ") + argument);
    return gpus.end();
}
