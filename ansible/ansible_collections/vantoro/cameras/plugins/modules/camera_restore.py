# -*- coding: utf-8 -*-
# Copyright: The Vantoro Config developers
# Apache License 2.0 (see LICENSE in the collection)

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: camera_restore
short_description: Write a backup's three records back to its camera
description:
  - Runs C(vantoro import) with an export made by M(vantoro.cameras.camera_backup) or C(vantoro export).
  - When the camera already holds those three records, byte for byte, nothing is sent and the task reports no change.
  - The login is checked against the user table the camera has now; every byte is compared after the write.
version_added: "0.2.0"
author: The Vantoro Config developers (@vantoro)
extends_documentation_fragment:
  - ansible.builtin.action_common_attributes
  - vantoro.cameras.vantoro
  - vantoro.cameras.vantoro.login
attributes:
  check_mode:
    support: full
    details: C(vantoro import --dry-run) sends no record.
  diff_mode:
    support: full
    details: The fields that change.
  platform:
    platforms: posix
options:
  src:
    description:
      - The export file on the site host.
    type: path
    required: true
'''

EXAMPLES = r'''
- name: Put a camera back as it was backed up
  vantoro.cameras.camera_restore:
    src: /var/backups/cameras/00-0a-0b-00-00-01.json
    login: admin
    login_password: "{{ vault_camera_admin }}"
'''

RETURN = r'''
result:
  description: What became of the camera (C(verified), C(restored), C(unchanged), C(would apply), ...).
  returned: always
  type: str
  sample: unchanged
changes:
  description: Each field that changed or would change; a password only as its field name.
  returned: always
  type: list
  elements: dict
  sample: [{field: gateway, before: 192.168.1.254, after: 192.168.1.1}]
mismatches:
  description: What the camera reports otherwise than sent, as C(field), C(sent), C(reported).
  returned: always
  type: list
  elements: dict
  sample: []
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.vantoro.cameras.plugins.module_utils.vantoro import (
    Vantoro, common_argument_spec, exit_with_row, one_row, option, row_result)


def main():
    module = AnsibleModule(
        argument_spec=common_argument_spec(login=True, src=dict(type='path', required=True)),
        supports_check_mode=True,
    )
    params = module.params
    vantoro = Vantoro(module)
    argv = ['import', params['src'], option('login', params['login']), '--format=json']
    if module.check_mode:
        argv.append('--dry-run')
    rc, document, err = vantoro.run_json(argv + vantoro.search_options(),
                                         env=vantoro.environment(params['login_password']))
    row = one_row(module, document, 'import', rc, err)
    exit_with_row(module, row.get('mac', params['src']), row, row_result(row), rc, err)


if __name__ == '__main__':
    main()
