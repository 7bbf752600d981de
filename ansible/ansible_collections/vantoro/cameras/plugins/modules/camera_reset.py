# -*- coding: utf-8 -*-
# Copyright: The Vantoro Config developers
# Apache License 2.0 (see LICENSE in the collection)

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: camera_reset
short_description: Send a camera the reset request
description:
  - Runs C(vantoro reset) after the login is checked against the camera's user table.
  - A camera does not acknowledge a reset, so the task reports that the request was sent, and always a change.
version_added: "0.2.0"
author: The Vantoro Config developers (@vantoro)
extends_documentation_fragment:
  - ansible.builtin.action_common_attributes
  - vantoro.cameras.vantoro
  - vantoro.cameras.vantoro.camera
  - vantoro.cameras.vantoro.login
attributes:
  check_mode:
    support: full
    details: The camera is found and the login checked (C(vantoro reset --dry-run)); nothing is sent.
  diff_mode:
    support: none
  platform:
    platforms: posix
'''

EXAMPLES = r'''
- name: Reset a camera
  vantoro.cameras.camera_reset:
    mac: 00:0a:0b:00:00:01
    login: admin
    login_password: "{{ vault_camera_admin }}"
'''

RETURN = r'''
result:
  description: C(vantoro)'s result for the camera.
  returned: always
  type: str
  sample: sent
detail:
  description: C(vantoro)'s detail, if it gives one.
  returned: when C(vantoro) gives one
  type: str
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.vantoro.cameras.plugins.module_utils.vantoro import (
    Vantoro, common_argument_spec, mac_key, one_row, option, result_word, row_failed)


def main():
    module = AnsibleModule(
        argument_spec=common_argument_spec(login=True, mac=dict(type='str', required=True)),
        supports_check_mode=True,
    )
    params = module.params
    if mac_key(params['mac']) is None:
        module.fail_json(msg="mac: '%s' is not a MAC such as 00:0a:0b:00:00:01" % params['mac'])
    vantoro = Vantoro(module)
    argv = ['reset', params['mac'], option('login', params['login']), '--format=json']
    if module.check_mode:
        argv.append('--dry-run')
    rc, document, err = vantoro.run_json(argv + vantoro.search_options(),
                                         env=vantoro.environment(params['login_password']))
    row = one_row(module, document, 'reset', rc, err)
    result = dict(changed=True, result=result_word(row))
    if row.get('detail'):
        result['detail'] = row['detail']
    if rc != 0 or row_failed(row):
        result['changed'] = False
        module.fail_json(msg='%s: %s' % (params['mac'], result['result']), rc=rc, stderr=err, **result)
    module.exit_json(**result)


if __name__ == '__main__':
    main()
