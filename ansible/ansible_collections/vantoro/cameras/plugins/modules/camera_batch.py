# -*- coding: utf-8 -*-
# Copyright: The Vantoro Config developers
# Apache License 2.0 (see LICENSE in the collection)

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: camera_batch
short_description: Network settings and camera names for many cameras of a site in one run
description:
  - Hands the whole set to C(vantoro apply), which searches once and writes up to C(parallel) cameras at once,
    each through its own acknowledged sequence. This is the safe way to write many cameras from one site host,
    rather than a loop of M(vantoro.cameras.camera) tasks.
  - A camera that already holds what is given is left alone and reported C(unchanged).
  - Passwords never travel in a batch; use M(vantoro.cameras.camera) for users.
version_added: "0.2.0"
author: The Vantoro Config developers (@vantoro)
extends_documentation_fragment:
  - ansible.builtin.action_common_attributes
  - vantoro.cameras.vantoro
  - vantoro.cameras.vantoro.login
attributes:
  check_mode:
    support: full
    details: C(vantoro apply --dry-run) makes every check and sends no record.
  diff_mode:
    support: full
    details: The fields that change, per camera.
  platform:
    platforms: posix
options:
  cameras:
    description:
      - One dict per camera, with C(mac) and any of C(ethernet_ip), C(ethernet_mask), C(gateway), C(bootp_start),
        C(bootp_end), C(ppp_ip), C(ppp_mask), C(ppp_client_ip), C(server), C(bootp) (booleans) and
        C(camera_name_1) to C(camera_name_4). A key left out is left as the camera has it.
      - The module writes them to a CSV file of its own on the site host for C(vantoro apply).
    type: list
    elements: dict
  src:
    description:
      - A CSV file on the site host, as C(vantoro apply) takes it (a C(mac) column and the columns above).
    type: path
  parallel:
    description:
      - Cameras written at once, 1 to 256 (C(vantoro --parallel), default 16).
    type: int
  force:
    description:
      - Send a malformed network (C(vantoro --force)). An address another device holds is refused all the same.
    type: bool
    default: false
  verify:
    description:
      - Search the cameras again after the writes and compare what they kept.
    type: bool
    default: true
notes:
  - The task fails when any camera failed, was not found, refused the login or did not keep what was sent,
    and returns every camera's result all the same.
'''

EXAMPLES = r'''
- name: A new gateway for every camera of the site
  vantoro.cameras.camera_batch:
    login: admin
    login_password: "{{ vault_camera_admin }}"
    cameras: "{{ site_cameras | map('combine', {'gateway': site_gateway}) | list }}"
  vars:
    site_cameras:
      - mac: 00:0a:0b:00:00:01
      - mac: 00:0a:0b:00:00:02

- name: A spreadsheet already on the site host
  vantoro.cameras.camera_batch:
    login: admin
    login_password: "{{ vault_camera_admin }}"
    src: /srv/cameras/fleet.csv
    parallel: 4
'''

RETURN = r'''
results:
  description:
    - One row per camera, as C(vantoro apply) reports it, C(mac), C(result), C(detail), C(changes), C(verified),
      C(mismatches).
    - C(result) is C(applied), C(unchanged), C(would apply), C(not found), C(login refused), C(failed) or C(not started).
  returned: always
  type: list
  elements: dict
  sample:
    - mac: 00:0a:0b:00:00:01
      result: applied
      detail: null
      changes: [{field: gateway, before: 192.168.1.1, after: 192.168.1.254}]
      verified: true
      mismatches: []
summary:
  description: How many cameras came to each result.
  returned: always
  type: dict
  sample: {applied: 1, unchanged: 1, failed: 0, verified: 1}
'''

import csv
import os

from ansible.module_utils.basic import AnsibleModule
from ansible.module_utils.six import StringIO
from ansible_collections.vantoro.cameras.plugins.module_utils.vantoro import (
    CAMERA_NAME_KEYS, NETWORK_ADDRESS_KEYS, NETWORK_SWITCH_KEYS, Vantoro, changes_diff, common_argument_spec,
    mac_key, option, row_changed, row_failed, safe_changes, switch_text)

COLUMNS = ('mac',) + NETWORK_ADDRESS_KEYS + NETWORK_SWITCH_KEYS + CAMERA_NAME_KEYS


def csv_text(cameras):
    """The cameras as apply's CSV: an empty cell changes nothing."""
    out = StringIO()
    writer = csv.writer(out, lineterminator='\n')
    writer.writerow(COLUMNS)
    for index, camera in enumerate(cameras):
        unknown = sorted(set(camera) - set(COLUMNS))
        if unknown:
            raise ValueError('cameras[%d]: unknown keys %s' % (index, ', '.join(unknown)))
        if mac_key(camera.get('mac')) is None:
            raise ValueError("cameras[%d]: mac '%s' is not a MAC such as 00:0a:0b:00:00:01" % (index, camera.get('mac')))
        row = []
        for column in COLUMNS:
            value = camera.get(column)
            if value is None:
                row.append('')
            elif column in NETWORK_SWITCH_KEYS:
                if not isinstance(value, bool):
                    raise ValueError('cameras[%d]: %s wants true or false' % (index, column))
                row.append(switch_text(value))
            else:
                row.append(str(value))
        writer.writerow(row)
    return out.getvalue()


def main():
    module = AnsibleModule(
        argument_spec=common_argument_spec(
            login=True,
            cameras=dict(type='list', elements='dict'),
            src=dict(type='path'),
            parallel=dict(type='int'),
            force=dict(type='bool', default=False),
            verify=dict(type='bool', default=True),
        ),
        mutually_exclusive=[('cameras', 'src')],
        required_one_of=[('cameras', 'src')],
        supports_check_mode=True,
    )
    params = module.params
    vantoro = Vantoro(module)
    src = params['src']
    if params['cameras'] is not None:
        try:
            text = csv_text(params['cameras'])
        except ValueError as error:
            module.fail_json(msg=str(error))
        src = os.path.join(module.tmpdir, 'cameras.csv')
        with os.fdopen(os.open(src, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600), 'w') as handle:
            handle.write(text)

    argv = ['apply', src, option('login', params['login']), '--format=json']
    if module.check_mode:
        argv.append('--dry-run')
    if params['parallel'] is not None:
        argv.append(option('parallel', params['parallel']))
    if params['force']:
        argv.append('--force')
    if not params['verify']:
        argv.append('--no-verify')
    rc, document, err = vantoro.run_json(argv + vantoro.search_options(),
                                         env=vantoro.environment(params['login_password']))
    rows = document.get('results') or []
    for row in rows:
        row['changes'] = safe_changes(row.get('changes'))
    result = dict(
        changed=any(row_changed(row) for row in rows),
        results=rows,
        summary=document.get('summary') or {},
        diff=changes_diff(rows),
    )
    failed = [row.get('mac', '?') for row in rows if row_failed(row)]
    if rc != 0 or failed:
        module.fail_json(msg='%d of %d cameras failed: %s' % (len(failed), len(rows), ', '.join(failed) or err.strip()),
                         rc=rc, stderr=err, **result)
    module.exit_json(**result)


if __name__ == '__main__':
    main()
