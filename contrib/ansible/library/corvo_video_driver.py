#!/usr/bin/python3
# SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
# SPDX-License-Identifier: GPL-2.0-or-later

DOCUMENTATION = r'''
---
module: corvo_video_driver
short_description: Choose the kernel module or X server driver of a graphics adapter
description:
  - Switches a graphics adapter through C(corvo-admin-driver set-module) or C(set-xorg), which
    ask the privileged helper to write the X server's switch snippet
    (/etc/X11/xorg.conf.d/20-vela-admin-video-driver.conf). The switch takes effect at the next
    start of the X server (a reboot).
  - The present state comes from C(corvo-admin-driver --json list-modules) and C(list-xorg),
    which name the X driver the snippet configures for the adapter or, without one, the driver
    in use. Nothing is written when it already is the wanted one.
options:
  gpu:
    description: The adapter, as the command line names it - X bus id (PCI:01@0000:00:0), model or vendor.
    type: str
    required: true
  module:
    description: A kernel module of the adapter (one of list-modules); the switch writes the X driver that goes with it.
    type: str
  xorg:
    description: An installed X server driver (one of list-xorg); with I(module), it overrides the module's X driver.
    type: str
  executable:
    description: The corvo-admin-driver program; by default the one on PATH.
    type: path
notes:
  - Supports check mode, which reports whether the switch would be made and changes nothing.
  - Needs root or another caller whom polkit lets use the helper's replace action.
author: Corvo video driver manager developers
'''

EXAMPLES = r'''
- name: NVIDIA's own driver for the GeForce card
  corvo_video_driver:
    gpu: PCI:01@0000:00:0
    module: nvidia

- name: The generic modesetting X driver for the Intel adapter
  corvo_video_driver:
    gpu: Intel Corporation
    xorg: modesetting
'''

RETURN = r'''
gpu:
  description: The adapter as list-modules names it (busId, model, vendor, configuredXorgDriver after the task).
  returned: always
  type: dict
xorg_driver:
  description: The X driver configured for the adapter after the task (what a check run would configure).
  returned: always
  type: str
previous_xorg_driver:
  description: The X driver configured for the adapter before, or in use when none was configured (null when unknown).
  returned: always
  type: str
reboot_required:
  description: Whether the switch waits for the next start of the X server.
  returned: always
  type: bool
'''

from ansible.module_utils.basic import AnsibleModule
from ansible.module_utils.corvo_admin_driver import CorvoAdminDriver


def main():
    module = AnsibleModule(
        argument_spec=dict(
            gpu=dict(type="str", required=True),
            module=dict(type="str"),
            xorg=dict(type="str"),
            executable=dict(type="path"),
        ),
        required_one_of=[["module", "xorg"]],
        supports_check_mode=True,
    )
    gpu, wanted_module, wanted_xorg = module.params["gpu"], module.params["module"], module.params["xorg"]
    tool = CorvoAdminDriver(module)

    listing = tool.query("list-modules", gpu)
    drivers = tool.query("list-xorg", gpu)["xorgDrivers"]
    configured = listing["gpu"]["configuredXorgDriver"]
    in_use = next((d["name"] for d in drivers if d["inUse"]), None)

    chosen = None
    if wanted_module is not None:
        chosen = next((m for m in listing["modules"] if m["name"] == wanted_module), None)
        if chosen is None:
            module.fail_json(msg="The kernel module %s cannot drive the GPU %s; its modules: %s"
                             % (wanted_module, gpu, ", ".join(m["name"] for m in listing["modules"]) or "none"))
    if wanted_xorg is not None and wanted_xorg not in [d["name"] for d in drivers]:
        module.fail_json(msg="The X driver %s is not installed; installed: %s"
                         % (wanted_xorg, ", ".join(sorted(set(d["name"] for d in drivers))) or "none"))

    target = wanted_xorg if wanted_xorg is not None else chosen["xorgDriver"]
    if configured is not None:
        needed = configured != target
    else:
        # Nothing configured: the running state counts.
        needed = not ((chosen is None or chosen["inUse"]) and (wanted_xorg is None or in_use == wanted_xorg))
    previous = configured if configured is not None else in_use
    result = dict(changed=needed, previous_xorg_driver=previous, xorg_driver=target if needed else previous,
                  reboot_required=needed, gpu=listing["gpu"])
    if needed:
        result["diff"] = dict(before="X driver: %s\n" % previous, after="X driver: %s\n" % target)
    if not needed or module.check_mode:
        module.exit_json(**result)

    if wanted_xorg is None:
        result["stdout"] = tool.change("set-module", gpu, wanted_module)
    else:
        result["stdout"] = tool.change("set-xorg", gpu, wanted_xorg)
    after = tool.query("list-modules", gpu)["gpu"]
    if after["configuredXorgDriver"] != target:
        module.fail_json(msg="The switch to the X driver %s was reported done, yet the switch snippet names %s"
                         % (target, after["configuredXorgDriver"]), **result)
    result["gpu"] = after
    module.exit_json(**result)


if __name__ == "__main__":
    main()
