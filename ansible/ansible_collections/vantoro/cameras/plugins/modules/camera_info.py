# -*- coding: utf-8 -*-
# Copyright: The Vantoro Config developers
# Apache License 2.0 (see LICENSE in the collection)

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: camera_info
short_description: List the cameras that answer on a site's LAN
description:
  - Runs C(vantoro discover) on the site host and returns every camera that answered, or those named in C(macs).
  - With C(details), also each camera's names, users (passwords as C(***)) and domains from C(vantoro show).
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
  macs:
    description:
      - Only these cameras, each as C(00:0a:0b:00:00:01) or C(00 0A 0B 00 00 01).
      - A camera named here that does not answer fails the task.
      - Without it, every camera that answered.
    type: list
    elements: str
  details:
    description:
      - Also read each listed camera's records with C(vantoro show), one search per camera.
    type: bool
    default: false
'''

EXAMPLES = r'''
- name: List the cameras of the site
  vantoro.cameras.camera_info:
  register: site

- name: Users and domains of two cameras, through one interface
  vantoro.cameras.camera_info:
    macs:
      - 00:0a:0b:00:00:01
      - 00:0a:0b:00:00:02
    details: true
    interfaces: [eth1]
  register: two
'''

RETURN = r'''
cameras:
  description: The cameras, sorted by MAC, each as C(vantoro discover --format json) describes it.
  returned: always
  type: list
  elements: dict
  sample:
    - mac: 00:0a:0b:00:00:01
      interface: eth1
      address: 192.168.1.10
      records: {general: true, user: true, domain: true}
      firmware: "1.2.3"
      network: {ethernet_ip: 192.168.1.10, ethernet_mask: 255.255.255.0, gateway: 192.168.1.1, server: true, bootp: false}
      conflicts: []
      reachable: true
  contains:
    mac:
      description: The camera's MAC, lower case with colons.
      type: str
      returned: always
    network:
      description: The network fields, or null when the camera sent no general record.
      type: dict
      returned: always
    camera_names:
      description: The names of cameras 1 to 4.
      type: list
      elements: str
      returned: when C(details=true)
    users:
      description: The user table, C(row), C(name), C(password) (always C(***)), C(view_image), C(adjust).
      type: list
      elements: dict
      returned: when C(details=true)
    domains:
      description: The domain table, C(row), C(name), C(ip).
      type: list
      elements: dict
      returned: when C(details=true)
answers_lost:
  description: Answers the search had no room for; more than 0 means the list may be incomplete.
  returned: always
  type: int
  sample: 0
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.vantoro.cameras.plugins.module_utils.vantoro import (
    Vantoro, common_argument_spec, mac_key, option)


def wanted_macs(module):
    """The MACs asked for, keyed by their digits, or None for every camera."""
    if module.params['macs'] is None:
        return None
    wanted = {}
    for text in module.params['macs']:
        key = mac_key(text)
        if key is None:
            module.fail_json(msg="macs: '%s' is not a MAC such as 00:0a:0b:00:00:01" % text)
        wanted[key] = text
    return wanted


def add_details(module, vantoro, env, camera):
    """camera_names, users and domains from show; no password ever."""
    # A single address for show: the one the camera answered from in WAN mode.
    wan = [option('wan', camera['address'])] if module.params['wan'] and camera.get('address') else []
    rc, shown, err = vantoro.run_json(['show', camera['mac'], '--format=json'] + wan +
                                      vantoro.search_options(wan=False), env=env)
    if rc != 0:
        module.fail_json(msg='vantoro show %s failed: %s' % (camera['mac'], err.strip()), rc=rc)
    for key in ('camera_names', 'users', 'domains'):
        camera[key] = shown.get(key)
    for user in camera.get('users') or []:
        user['password'] = '***'  # whatever came back: this module never returns one


def main():
    module = AnsibleModule(
        argument_spec=common_argument_spec(
            macs=dict(type='list', elements='str'),
            details=dict(type='bool', default=False),
        ),
        supports_check_mode=True,
    )
    wanted = wanted_macs(module)
    vantoro = Vantoro(module)
    env = vantoro.environment()
    rc, found, err = vantoro.run_json(['discover', '--format=json'] + vantoro.search_options(), env=env)
    if rc != 0:
        vantoro.fail_status(rc, err)
    cameras = [c for c in found.get('cameras', []) if wanted is None or mac_key(c.get('mac')) in wanted]
    if module.params['details']:
        for camera in cameras:
            add_details(module, vantoro, env, camera)

    listed = set(mac_key(c.get('mac')) for c in cameras)
    missing = sorted(text for key, text in (wanted or {}).items() if key not in listed)
    result = dict(changed=False, cameras=cameras, answers_lost=found.get('answers_lost', 0))
    if missing:
        module.fail_json(msg='these cameras did not answer: %s' % ', '.join(missing), **result)
    module.exit_json(**result)


if __name__ == '__main__':
    main()
