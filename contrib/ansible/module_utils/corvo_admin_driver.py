# SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
# SPDX-License-Identifier: GPL-2.0-or-later
"""What the corvo_* modules share: running corvo-admin-driver, reading its --json documents
and turning its failures into fail_json with the tool's own message."""
import json


class CorvoAdminDriver(object):
    def __init__(self, module):
        self.module = module
        self.binary = module.params.get("executable") or module.get_bin_path("corvo-admin-driver", required=True)

    def query(self, *args):
        """The document of `corvo-admin-driver --json ARGS`; fails the task with the tool's error."""
        command = [self.binary, "--json"] + list(args)
        rc, out, err = self.module.run_command(command)
        try:
            document = json.loads(out)
        except ValueError:
            self.module.fail_json(msg="corvo-admin-driver printed no JSON document", cmd=command, rc=rc, stdout=out, stderr=err)
        if not isinstance(document, dict):
            self.module.fail_json(msg="corvo-admin-driver printed no JSON object", cmd=command, rc=rc, stdout=out, stderr=err)
        if "error" in document:
            self.module.fail_json(msg=document["error"], cmd=command, rc=rc, stderr=err)
        if rc != 0:
            self.module.fail_json(msg="corvo-admin-driver failed with status %d" % rc, cmd=command, rc=rc, stdout=out, stderr=err)
        return document

    def change(self, *args):
        """Runs a change action; fails the task with what the tool said when it fails."""
        command = [self.binary] + list(args)
        rc, out, err = self.module.run_command(command)
        if rc != 0:
            message = "\n".join(part for part in (out.strip(), err.strip()) if part)
            self.module.fail_json(msg=message or "corvo-admin-driver failed with status %d" % rc, cmd=command, rc=rc,
                                  stdout=out, stderr=err)
        return out.strip()
