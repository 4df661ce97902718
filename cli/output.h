#pragma once

#include <QString>

// The tool's one output stream on standard output: every message, errors included, is one
// line on it, flushed at once so that scripts see lines as they come.
namespace Output
{
void line(const QString &text);
}
