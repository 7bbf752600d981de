# -*- coding: utf-8 -*-
# Copyright: The Vantoro Config developers
# Apache License 2.0 (see LICENSE in the collection)

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: camera_backup
short_description: Back a camera's three records up to a file on the site host
description:
  - Runs C(vantoro export) and keeps the export at C(dest), readable by its owner only (mode 0600), because
    the user record holds the camera's passwords.
  - When C(dest) already holds the same three records, byte for byte, it is left as it is and the task reports no change,
    although each export carries the time it was read.
  - Nothing is written to the camera. M(ansible.builtin.fetch) then brings the file to the controller.
version_added: "0.2.0"
author: The Vantoro Config developers (@vantoro)
extends_documentation_fragment:
  - ansible.builtin.action_common_attributes
  - vantoro.cameras.vantoro
  - vantoro.cameras.vantoro.camera
attributes:
  check_mode:
    support: full
    details: The camera is read; C(dest) is not written.
  diff_mode:
    support: none
  platform:
    platforms: posix
options:
  dest:
    description:
      - The export file on the site host; its folder must exist.
    type: path
    required: true
'''

EXAMPLES = r'''
- name: Back the camera up on the site host
  vantoro.cameras.camera_backup:
    mac: 00:0a:0b:00:00:01
    dest: /var/backups/cameras/00-0a-0b-00-00-01.json

- name: And keep a copy on the controller
  ansible.builtin.fetch:
    src: /var/backups/cameras/00-0a-0b-00-00-01.json
    dest: backups/
'''

RETURN = r'''
dest:
  description: The export file.
  returned: always
  type: str
  sample: /var/backups/cameras/00-0a-0b-00-00-01.json
'''

import json
import os
import stat

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.vantoro.cameras.plugins.module_utils.vantoro import (
    Vantoro, common_argument_spec, mac_key)


def held_records(path):
    """The camera and its three records of an export, or None for no export."""
    try:
        with open(path, 'r') as handle:
            export = json.load(handle)
    except (IOError, OSError, ValueError):
        return None
    if not isinstance(export, dict):
        return None
    return mac_key(export.get('mac')), export.get('records')


def main():
    module = AnsibleModule(
        argument_spec=common_argument_spec(
            mac=dict(type='str', required=True),
            dest=dict(type='path', required=True),
        ),
        supports_check_mode=True,
    )
    params = module.params
    if mac_key(params['mac']) is None:
        module.fail_json(msg="mac: '%s' is not a MAC such as 00:0a:0b:00:00:01" % params['mac'])
    dest = params['dest']
    if not os.path.isdir(os.path.dirname(os.path.abspath(dest))):
        module.fail_json(msg='dest: the folder of %s does not exist' % dest)

    vantoro = Vantoro(module)
    fresh = os.path.join(module.tmpdir, 'export.json')
    rc, out, err = vantoro.run(['export', params['mac'], fresh] + vantoro.search_options(), env=vantoro.environment())
    if rc != 0:
        if rc == 2:
            vantoro.fail_usage(rc, None, err)
        vantoro.fail_status(rc, err)
    records = held_records(fresh)
    if records is None or records[1] is None:
        module.fail_json(msg='vantoro export wrote no export to read back', stdout=out, stderr=err)

    same = held_records(dest) == records
    mode_right = same and stat.S_IMODE(os.stat(dest).st_mode) == 0o600
    changed = not same or not mode_right
    if changed and not module.check_mode:
        if not same:
            module.atomic_move(fresh, dest)
        os.chmod(dest, 0o600)
    module.exit_json(changed=changed, dest=dest)


if __name__ == '__main__':
    main()
