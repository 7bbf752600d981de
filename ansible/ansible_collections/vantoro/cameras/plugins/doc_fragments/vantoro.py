# -*- coding: utf-8 -*-
# Copyright: The Vantoro Config developers
# Apache License 2.0 (see LICENSE in the collection)

from __future__ import absolute_import, division, print_function
__metaclass__ = type


class ModuleDocFragment(object):
    """Options every vantoro.cameras module takes, and the login of the writing ones."""

    DOCUMENTATION = r'''
options:
  executable:
    description:
      - Path of the C(vantoro) program on the site host.
      - Without it, C(vantoro) is looked for on the C(PATH).
    type: path
  wan:
    description:
      - What C(vantoro --wan) takes, an address, a CIDR or dash range, or a comma-separated list of these,
        to reach cameras beyond a router (WAN mode).
      - Without it, C(vantoro) broadcasts on the site host's LAN (LAN mode).
      - Modules that name one camera take a single address here.
    type: str
  interfaces:
    description:
      - Interface names that LAN mode searches and sends through; passed to C(vantoro) as C(VANTORO_INTERFACES).
      - Without it, every interface of the site host.
    type: list
    elements: str
  wait:
    description:
      - How long to collect answers to a search, in milliseconds (C(vantoro --wait), default 1000).
    type: int
  timeout:
    description:
      - How long to wait for each acknowledgement, in milliseconds (C(vantoro --timeout), default 2000).
    type: int
  retries:
    description:
      - How often to resend the search, or a step without its acknowledgement (C(vantoro --retries), default 2).
    type: int
notes:
  - The site host needs only C(vantoro) and python3. Each module runs C(vantoro) there, with its arguments as a list
    (never through a shell), and reads its JSON output.
  - The options above belong to the action group C(vantoro), so
    C(module_defaults) with C(group/vantoro.cameras.vantoro) sets them once for every module.
'''

    LOGIN = r'''
options:
  login:
    description:
      - The camera user to log in as; checked against the camera's own user table.
    type: str
    required: true
  login_password:
    description:
      - The password of C(login).
      - It reaches C(vantoro) on its standard input or in the environment the module sets for that one process,
        never as an argument, and it appears in no return value, diff or journal line.
      - Ansible hides every part of the task's output equal to this value; a short password such as C(admin) also hides
        unrelated text that happens to contain it.
    type: str
    required: true
'''

    CAMERA = r'''
options:
  mac:
    description:
      - The camera, as C(00:0a:0b:00:00:01) or C(00 0A 0B 00 00 01).
    type: str
    required: true
'''
