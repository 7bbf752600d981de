# -*- coding: utf-8 -*-
# Copyright: The Vantoro Config developers
# Apache License 2.0 (see LICENSE in the collection)

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: camera
short_description: Keep one camera's network settings, names, users and domains as declared
description:
  - Reads the camera's records with C(vantoro show), turns what the task declares into C(vantoro set) edits,
    and lets C(vantoro) decide what changes, with C(--dry-run) in check mode.
  - Nothing is sent when the camera already holds what is declared; a second run reports no change.
  - A password is compared with the camera's present one inside the module and is never returned.
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
    details: C(vantoro set --dry-run) makes every check and sends no record.
  diff_mode:
    support: full
    details: Only the fields that change; a password only by its field name.
  platform:
    platforms: posix
options:
  network:
    description:
      - Network settings to set; a key left out is left as the camera has it.
    type: dict
    suboptions:
      ethernet_ip:
        description: The camera's address.
        type: str
      ethernet_mask:
        description: Its subnet mask.
        type: str
      gateway:
        description: Its gateway; C(0.0.0.0) for none.
        type: str
      bootp_start:
        description: First address the camera's BOOTP server hands out.
        type: str
      bootp_end:
        description: Last address the camera's BOOTP server hands out.
        type: str
      ppp_ip:
        description: The camera's PPP address.
        type: str
      ppp_mask:
        description: The PPP mask.
        type: str
      ppp_client_ip:
        description: The address of the PPP client.
        type: str
      server:
        description: The SERVER switch.
        type: bool
      bootp:
        description: The BOOTP switch.
        type: bool
  camera_names:
    description:
      - Names of cameras 1 to 4, keyed by number; an empty text clears a name.
    type: dict
  users:
    description:
      - Users of the camera's user table.
    type: list
    elements: dict
    suboptions:
      name:
        description: The user name (compared in any case, as the camera does).
        type: str
        required: true
      password:
        description:
          - The user's password. Needed to add a user.
          - With C(update_password=always), a present user's password is changed only when it differs.
        type: str
      permissions:
        description:
          - The user's rights; an empty list for none. Left as it is when not given.
        type: list
        elements: str
        choices: [view, adjust]
      state:
        description: Whether the user is in the table.
        type: str
        choices: [present, absent]
        default: present
  domains:
    description:
      - Names of the camera's domain table.
    type: list
    elements: dict
    suboptions:
      name:
        description: The domain name.
        type: str
        required: true
      address:
        description: Its IPv4 address; needed when C(domains[].state=present).
        type: str
      state:
        description: Whether the name is in the table.
        type: str
        choices: [present, absent]
        default: present
  state:
    description:
      - C(merged) sets only what is given.
      - C(replaced) also makes the user and domain tables exactly the lists given. The login user is never deleted.
    type: str
    choices: [merged, replaced]
    default: merged
  update_password:
    description:
      - C(always) gives a present user the password declared when it differs; C(on_create) sets it only for a new user.
    type: str
    choices: [always, on_create]
    default: always
  force:
    description:
      - Send a malformed network (C(vantoro --force)). An address another device holds is refused all the same.
    type: bool
    default: false
  verify:
    description:
      - Search the camera again after the write and compare what it kept; a mismatch or no answer fails the task.
    type: bool
    default: true
'''

EXAMPLES = r'''
- name: Gateway and camera name of one camera
  vantoro.cameras.camera:
    mac: 00:0a:0b:00:00:01
    login: admin
    login_password: "{{ vault_camera_admin }}"
    network:
      gateway: 192.168.1.254
    camera_names:
      1: Loading bay

- name: Exactly these users and domains (the login user stays)
  vantoro.cameras.camera:
    mac: 00:0a:0b:00:00:01
    login: admin
    login_password: "{{ vault_camera_admin }}"
    state: replaced
    users:
      - name: viewer
        password: "{{ vault_viewer }}"
        permissions: [view]
    domains:
      - name: nvr
        address: 192.168.1.5
'''

RETURN = r'''
result:
  description: What became of the camera, in C(vantoro)'s words (C(verified), C(applied), C(unchanged), C(would apply), ...).
  returned: always
  type: str
  sample: verified
changes:
  description: Each field that changed or would change; a password only as its field name.
  returned: always
  type: list
  elements: dict
  sample:
    - {field: gateway, before: 192.168.1.1, after: 192.168.1.254}
    - {field: password of viewer, before: null, after: null}
mismatches:
  description: Fields the camera reports otherwise than sent, as C(field), C(sent), C(reported).
  returned: always
  type: list
  elements: dict
  sample: []
detail:
  description: C(vantoro)'s detail for the camera, such as the step that was not acknowledged.
  returned: when C(vantoro) gives one
  type: str
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.vantoro.cameras.plugins.module_utils.vantoro import (
    NETWORK_ADDRESS_KEYS, NETWORK_SWITCH_KEYS, Vantoro, common_argument_spec, mac_key,
    exit_with_row, network_argument_spec, one_row, option, row_result, switch_text)


def argument_spec():
    return common_argument_spec(
        login=True,
        mac=dict(type='str', required=True),
        network=dict(type='dict', options=network_argument_spec()),
        camera_names=dict(type='dict'),
        users=dict(type='list', elements='dict', options=dict(
            name=dict(type='str', required=True),
            password=dict(type='str', no_log=True),
            permissions=dict(type='list', elements='str', choices=['view', 'adjust']),
            state=dict(type='str', choices=['present', 'absent'], default='present'),
        )),
        domains=dict(type='list', elements='dict', options=dict(
            name=dict(type='str', required=True),
            address=dict(type='str'),
            state=dict(type='str', choices=['present', 'absent'], default='present'),
        )),
        state=dict(type='str', choices=['merged', 'replaced'], default='merged'),
        update_password=dict(type='str', choices=['always', 'on_create'], default='always'),
        force=dict(type='bool', default=False),
        verify=dict(type='bool', default=True),
    )


class PlanError(Exception):
    pass


def needs_records(params):
    """The users and domains are translated against the camera's tables."""
    return params['users'] is not None or params['domains'] is not None or params['state'] == 'replaced'


def general_edits(params):
    argv = []
    network = params['network'] or {}
    for key in NETWORK_ADDRESS_KEYS:
        if network.get(key) is not None:
            argv.append(option(key.replace('_', '-'), network[key]))
    for key in NETWORK_SWITCH_KEYS:
        if network.get(key) is not None:
            argv.append(option(key, switch_text(network[key])))
    for slot, text in sorted((params['camera_names'] or {}).items(), key=lambda item: str(item[0])):
        if str(slot) not in ('1', '2', '3', '4'):
            raise PlanError('camera_names: the keys are 1 to 4, not %s' % slot)
        argv.append(option('camera-name', '%s=%s' % (slot, '' if text is None else text)))
    return argv


def permissions_text(permissions):
    return ','.join(p for p in ('view', 'adjust') if p in permissions) or 'none'


def one_user_edits(params, user, present):
    """The edits for one declared user; its new password, if any, apart."""
    name, key = user['name'], user['name'].lower()
    if user['state'] == 'absent':
        if key == params['login'].lower():
            raise PlanError('users: %s is the login user, which is never deleted' % name)
        return ([option('delete-user', name)] if key in present else []), None
    argv, password = [], None
    if key not in present:
        if user['password'] is None:
            raise PlanError('users: %s is not on the camera, and adding a user needs its password' % name)
        argv.append(option('add-user', name))
        password = user['password']
    elif (user['password'] is not None and params['update_password'] == 'always'
          and present[key].get('password') != user['password']):
        argv.append(option('password', name))
        password = user['password']
    if user['permissions'] is not None:
        argv.append(option('permissions', '%s=%s' % (name, permissions_text(user['permissions']))))
    return argv, password


def user_edits(params, users):
    """--add-user, --password, --permissions and --delete-user from the declared
    users against the camera's table; the new passwords go apart, to stdin."""
    argv, new_passwords = [], {}
    present = dict((u['name'].lower(), u) for u in users)
    declared = set()
    for user in params['users'] or []:
        declared.add(user['name'].lower())
        user_argv, password = one_user_edits(params, user, present)
        argv += user_argv
        if password is not None:
            new_passwords[user['name']] = password
    if params['state'] == 'replaced':
        for key, user in sorted(present.items()):
            if key not in declared and key != params['login'].lower():
                argv.append(option('delete-user', user['name']))
    return argv, new_passwords


def domain_edits(params, domains):
    argv = []
    present = dict((d['name'].lower(), d) for d in domains)
    declared = set()
    for domain in params['domains'] or []:
        name, key = domain['name'], domain['name'].lower()
        declared.add(key)
        if domain['state'] == 'absent':
            if key in present:
                argv.append(option('delete-domain', name))
            continue
        if domain['address'] is None:
            raise PlanError('domains: %s wants an address' % name)
        if key in present and present[key].get('ip') == domain['address']:
            continue
        if key in present:  # readdressed: deleted, then added again
            argv.append(option('delete-domain', name))
        argv.append(option('add-domain', '%s=%s' % (name, domain['address'])))
    if params['state'] == 'replaced':
        for key, domain in sorted(present.items()):
            if key not in declared:
                argv.append(option('delete-domain', domain['name']))
    return argv


def plan(module, vantoro, env):
    """The set edits and the new passwords; the camera's tables are read only when needed."""
    params = module.params
    try:
        edits = general_edits(params)
        if not needs_records(params):
            return edits, {}
        # show, not discover: the user table with its passwords, compared here and never returned.
        rc, shown, err = vantoro.run_json(['show', params['mac'], '--format=json', '--show-passwords'] +
                                          vantoro.search_options(), env=env)
        if rc != 0 or shown.get('users') is None or shown.get('domains') is None:
            module.fail_json(msg='%s did not send its user and domain records: %s' % (params['mac'], err.strip()),
                             rc=rc, result='not found')
        user_argv, new_passwords = user_edits(params, shown['users'])
        return edits + user_argv + domain_edits(params, shown['domains']), new_passwords
    except PlanError as error:
        module.fail_json(msg=str(error))


def set_argv(module):
    params = module.params
    argv = ['set', params['mac'], option('login', params['login']), '--secrets=-', '--format=json']
    if module.check_mode:
        argv.append('--dry-run')
    if params['force']:
        argv.append('--force')
    if not params['verify']:
        argv.append('--no-verify')
    return argv


def main():
    module = AnsibleModule(argument_spec=argument_spec(), supports_check_mode=True)
    params = module.params
    if mac_key(params['mac']) is None:
        module.fail_json(msg="mac: '%s' is not a MAC such as 00:0a:0b:00:00:01" % params['mac'])
    vantoro = Vantoro(module)
    env = vantoro.environment()
    edits, new_passwords = plan(module, vantoro, env)
    if not edits:
        module.exit_json(changed=False, result='unchanged', changes=[], mismatches=[],
                         diff=dict(before={}, after={}))

    secrets = module.jsonify(dict(login_password=params['login_password'], new_passwords=new_passwords))
    rc, document, err = vantoro.run_json(set_argv(module) + edits + vantoro.search_options(), data=secrets, env=env)
    row = one_row(module, document, 'set', rc, err)
    exit_with_row(module, params['mac'], row, row_result(row), rc, err)


if __name__ == '__main__':
    main()
