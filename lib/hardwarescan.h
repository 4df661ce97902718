// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "device.h"

#include <hd.h>

// Scans the PCI bus afresh into context and returns its records; they stay owned by the
// caller (hd_free_hd_list), the context's contents too (hd_free_hd_data).
hd_t *scanPciBus(hd_data_t *context, HardwareScan scan);
