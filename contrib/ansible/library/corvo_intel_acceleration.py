#!/usr/bin/python3
# SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
# SPDX-License-Identifier: GPL-2.0-or-later

DOCUMENTATION = r'''
---
module: corvo_intel_acceleration
short_description: Intel hardware video acceleration options of the kernel command line
description:
  - Sets the i915 GuC/HuC mode and frame buffer compression in the GRUB_CMDLINE_LINUX_DEFAULT
    line of /etc/default/grub through C(corvo-admin-driver intel-accel-*), whose privileged
    helper then runs update-grub. The options take effect at the next boot.
  - The present state comes from C(corvo-admin-driver --json intel-accel-status); nothing is
    written when it already is the wanted one.
options:
  enabled:
    description:
      - C(true) sets GuC mode 3 and frame buffer compression (intel-accel-enable), C(false)
        removes both options (intel-accel-disable). Enabling needs the acceleration packages
        (firmware, microcode, media and Mesa drivers); the tool names the missing ones.
    type: bool
  guc_mode:
    description: i915.enable_guc (0 disabled, 1 GuC submission, 2 HuC firmware loading, 3 both).
    type: int
    choices: [0, 1, 2, 3]
  fbc:
    description: i915.enable_fbc, frame buffer compression.
    type: bool
  executable:
    description: The corvo-admin-driver program; by default the one on PATH.
    type: path
notes:
  - Supports check mode, which reports what would change and changes nothing.
  - Needs an Intel adapter; polkit asks for administrator rights on every change.
author: Corvo video driver manager developers
'''

EXAMPLES = r'''
- name: Full Intel hardware acceleration
  corvo_intel_acceleration:
    enabled: true

- name: Only HuC firmware loading, no frame buffer compression
  corvo_intel_acceleration:
    guc_mode: 2
    fbc: false
'''

RETURN = r'''
status:
  description: The intel-accel-status document after the task (before it in check mode).
  returned: always
  type: dict
actions:
  description: The corvo-admin-driver actions run (or, in check mode, that would run), in order.
  returned: always
  type: list
reboot_required:
  description: Whether the boot loader defaults changed.
  returned: always
  type: bool
'''

from ansible.module_utils.basic import AnsibleModule
from ansible.module_utils.corvo_admin_driver import CorvoAdminDriver


def main():
    module = AnsibleModule(
        argument_spec=dict(
            enabled=dict(type="bool"),
            guc_mode=dict(type="int", choices=[0, 1, 2, 3]),
            fbc=dict(type="bool"),
            executable=dict(type="path"),
        ),
        required_one_of=[["enabled", "guc_mode", "fbc"]],
        mutually_exclusive=[["enabled", "guc_mode"], ["enabled", "fbc"]],
        supports_check_mode=True,
    )
    enabled, guc_mode, fbc = module.params["enabled"], module.params["guc_mode"], module.params["fbc"]
    tool = CorvoAdminDriver(module)
    status = tool.query("intel-accel-status")

    actions = []
    if enabled is True and not status["hardwareAccelerationEnabled"]:
        actions.append(["intel-accel-enable"])
    if enabled is False and (status["gucMode"] != 0 or status["frameBufferCompression"]):
        actions.append(["intel-accel-disable"])
    if guc_mode is not None and status["gucMode"] != guc_mode:
        actions.append(["intel-accel-set-guc", str(guc_mode)])
    if fbc is not None and status["frameBufferCompression"] != fbc:
        actions.append(["intel-accel-set-fbc", "1" if fbc else "0"])

    result = dict(changed=bool(actions), actions=[" ".join(a) for a in actions], reboot_required=bool(actions),
                  status=status)
    if actions:
        result["diff"] = dict(before=render(status), after=render(wanted(status, enabled, guc_mode, fbc)))
    if not actions or module.check_mode:
        module.exit_json(**result)

    result["stdout_lines"] = [tool.change(*a) for a in actions]
    result["status"] = tool.query("intel-accel-status")
    module.exit_json(**result)


def wanted(status, enabled, guc_mode, fbc):
    if enabled is not None:
        return dict(gucMode=3 if enabled else 0, frameBufferCompression=enabled)
    return dict(gucMode=status["gucMode"] if guc_mode is None else guc_mode,
                frameBufferCompression=status["frameBufferCompression"] if fbc is None else fbc)


def render(state):
    return "i915.enable_guc: %d\ni915.enable_fbc: %d\n" % (state["gucMode"], 1 if state["frameBufferCompression"] else 0)


if __name__ == "__main__":
    main()
