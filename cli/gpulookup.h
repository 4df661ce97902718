#pragma once

#include "device.h"

#include <QList>

// Finds the adapter an argument names: the first adapter, in probe order, whose model, X bus
// identifier or vendor name equals the argument exactly. When none does it prints the lookup
// message and returns gpus.end().
QList<Device>::iterator findGpu(const QString &argument, QList<Device> &gpus);
