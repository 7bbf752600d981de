# -*- coding: utf-8 -*-
# Copyright: The Vantoro Config developers
# Apache License 2.0 (see LICENSE in the collection)

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: journal_info
short_description: Read the journal of changes kept on the site host
description:
  - Runs C(vantoro log) and returns the changes that C(vantoro) and C(vantoro-config) made from the site host,
    oldest first. No password is ever in the journal.
  - The journal is the one of the user the module runs as (C($XDG_STATE_HOME/vantoro/changes.jsonl)).
  - The search options (C(wan), C(interfaces), C(wait), C(timeout), C(retries)) are accepted for the action group
    and not used, since nothing is sent.
version_added: "0.2.0"
author: The Vantoro Config developers (@vantoro)
extends_documentation_fragment:
  - ansible.builtin.action_common_attributes
  - vantoro.cameras.vantoro
attributes:
  check_mode:
    support: full
  diff_mode:
    support: none
  platform:
    platforms: posix
options:
  mac:
    description:
      - Only the changes of this camera.
    type: str
  since:
    description:
      - Only changes at or after this ISO 8601 date or time (UTC unless it names a zone), such as C(2026-12-07).
    type: str
'''

EXAMPLES = r'''
- name: What was changed on the site today
  vantoro.cameras.journal_info:
    since: "{{ ansible_date_time.date }}"
  register: today
'''

RETURN = r'''
entries:
  description: The journal's entries as C(vantoro log --format json) gives them, oldest first.
  returned: always
  type: list
  elements: dict
  sample:
    - time: "2026-12-07T10:30:00.000Z"
      program: vantoro
      mac: 00:0a:0b:00:00:01
      action: apply
      changes: [{field: gateway, before: 192.168.1.1, after: 192.168.1.254}]
      result: verified
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.vantoro.cameras.plugins.module_utils.vantoro import (
    Vantoro, common_argument_spec, option)


def main():
    module = AnsibleModule(
        argument_spec=common_argument_spec(mac=dict(type='str'), since=dict(type='str')),
        supports_check_mode=True,
    )
    vantoro = Vantoro(module)
    argv = ['log', '--format=json']
    for name in ('mac', 'since'):
        if module.params[name] is not None:
            argv.append(option(name, module.params[name]))
    rc, entries, err = vantoro.run_json(argv)
    if rc != 0 or not isinstance(entries, list):
        module.fail_json(msg='vantoro log failed: %s' % err.strip(), rc=rc, stderr=err)
    module.exit_json(changed=False, entries=entries)


if __name__ == '__main__':
    main()
