#include "output.h"

#include <QTextStream>

#include <cstdio>

namespace Output
{
void line(const QString &text)
{
    static QTextStream stream(stdout);
    stream << text << '\n';
    stream.flush();
}
}
