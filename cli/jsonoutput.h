// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "device.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QStringList>

#include <functional>

// The machine-readable output of --json: one JSON document on standard output per run, the
// listing's fields (docs/json/*.schema.json) or {"error": "..."} when the action fails.
namespace JsonOutput
{
// One action's JSON form: fills the document and returns 0, or returns the action's failure
// status after saying why with Output::line (which a JSON run holds back).
using Handler = std::function<int(const QStringList &args, QList<Device> &gpus, QJsonObject &document)>;

// Runs the handler with Output's lines held back. Returns the handler's status and, in
// document, the text to print: the handler's document on success, else {"error": the lines
// held back, one per line}.
int run(const Handler &handler, const QStringList &args, QList<Device> &gpus, QByteArray &document);

// {"error": message}
QByteArray errorDocument(const QString &message);

// The X driver a driver switch configured for the adapter: the Driver of the switch snippet's
// Device section when its BusID is the adapter's; empty otherwise. It takes effect when the X
// server starts again.
QString configuredXOrgDriver(const Device &gpu, const QString &snippetPath);

// The fields every document names an adapter by (the ones the command line finds it by) and
// the X driver configured for it.
QJsonObject gpuObject(const Device &gpu);

// Writes the document to standard output as it is (UTF-8).
void print(const QByteArray &document);
}

// The change module's entry point for JSON runs: list-packages and intel-accel-status.
extern "C" {
using CorvoRunJson = int (*)(const QString &action, const QStringList &args, QList<Device> &gpus, QByteArray &document);
}
#define CORVO_RUN_JSON_SYMBOL "corvoAdminDriverRunJson"
