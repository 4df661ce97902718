# SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
# SPDX-License-Identifier: GPL-2.0-or-later
"""A stdout callback for the Ansible test: one line per task result (ok, changed or failed,
with what the corvo modules report and the failure message) and the totals of each host."""
from ansible.plugins.callback import CallbackBase

DOCUMENTATION = '''
name: transcript
type: stdout
short_description: one line per task for the corvo module test
description: One line per task result and the totals of each host.
'''


class CallbackModule(CallbackBase):
    CALLBACK_VERSION = 2.0
    CALLBACK_TYPE = "stdout"
    CALLBACK_NAME = "transcript"

    def _line(self, result, state):
        data = result._result
        details = []
        if "actions" in data:
            details.append("actions=" + ",".join(data["actions"]))
        if "xorg_driver" in data:
            details.append("xorg {} -> {}".format(data.get("previous_xorg_driver"), data["xorg_driver"]))
        if state == "failed":
            details.append("msg=" + str(data.get("msg", "")))
        line = "{}: {}".format(result._task.get_name(), state)
        if details:
            line += " (" + "; ".join(details) + ")"
        self._display.display(line)

    def v2_runner_on_ok(self, result):
        self._line(result, "changed" if result._result.get("changed") else "ok")

    def v2_runner_on_failed(self, result, ignore_errors=False):
        self._line(result, "failed")

    def v2_runner_on_unreachable(self, result):
        self._line(result, "unreachable")

    def v2_playbook_on_stats(self, stats):
        for host in sorted(stats.processed.keys()):
            summary = stats.summarize(host)
            self._display.display("{}: changed={} failures={} ignored={}".format(
                host, summary["changed"], summary["failures"], summary.get("ignored", 0)))
