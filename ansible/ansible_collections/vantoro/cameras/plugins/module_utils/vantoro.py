# -*- coding: utf-8 -*-
# Copyright: The Vantoro Config developers
# Apache License 2.0 (see LICENSE in the collection)
"""Running vantoro for the modules: a list argv, passwords only on standard
input or in the child's environment, its JSON parsed, its exit status named."""

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import json
import re

EXIT_OK = 0
EXIT_CAMERA_FAILED = 1
EXIT_BAD_INPUT = 2
EXIT_INTERRUPTED = 130

# The network fields as apply's CSV columns and the module's keys; set takes
# them as --ethernet-ip and so on.
NETWORK_ADDRESS_KEYS = ('ethernet_ip', 'ethernet_mask', 'gateway', 'bootp_start', 'bootp_end',
                        'ppp_ip', 'ppp_mask', 'ppp_client_ip')
NETWORK_SWITCH_KEYS = ('server', 'bootp')
CAMERA_NAME_KEYS = ('camera_name_1', 'camera_name_2', 'camera_name_3', 'camera_name_4')

# Results of a camera to which vantoro sent nothing (and would send nothing in a dry run).
NOT_SENT_RESULTS = ('unchanged', 'not found', 'login refused', 'not started')
# Results, as result_word gives them, of a camera not done as asked.
FAILED_RESULTS = ('not found', 'login refused', 'failed', 'not started', 'mismatch', 'unverified')


def common_argument_spec(login=False, **options):
    """The options every module takes, the login when it writes, and its own."""
    table = dict(
        executable=dict(type='path'),
        wan=dict(type='str'),
        interfaces=dict(type='list', elements='str'),
        wait=dict(type='int'),
        timeout=dict(type='int'),
        retries=dict(type='int'),
    )
    if login:
        table.update(
            login=dict(type='str', required=True),
            login_password=dict(type='str', required=True, no_log=True),
        )
    table.update(options)
    return table


def network_argument_spec():
    """The network keys of one camera: addresses as text, the switches as booleans."""
    table = dict((key, dict(type='str')) for key in NETWORK_ADDRESS_KEYS)
    table.update((key, dict(type='bool')) for key in NETWORK_SWITCH_KEYS)
    return table


def mac_key(text):
    """A MAC in any of its usual forms as twelve lower-case hex digits, or None."""
    digits = re.sub(r'[\s:.-]', '', text or '').lower()
    return digits if re.match(r'^[0-9a-f]{12}$', digits) else None


def option(name, value):
    """One option and its value as one argument, so a value starting with '-' stays a value."""
    return '--%s=%s' % (name, value)


def switch_text(on):
    return 'on' if on else 'off'


def result_word(row):
    """The word for a camera's outcome: verified, mismatch or unverified once
    searched again, else vantoro's result (applied, unchanged, would apply, ...)."""
    result = row.get('result')
    if result in ('applied', 'restored') and row.get('verified') is not None:
        if row.get('verified'):
            return 'verified'
        return 'mismatch' if row.get('mismatches') else 'unverified'
    return result


def row_failed(row):
    """Failed, not found, refused, not started, or not kept what was sent."""
    return result_word(row) in FAILED_RESULTS or row.get('verified') is False or bool(row.get('mismatches'))


def row_changed(row):
    """Sent, or would be in a dry run: anything but unchanged or never started.
    A write that failed half way may have changed the camera, so it counts."""
    return row.get('result') not in NOT_SENT_RESULTS


def is_password(field):
    """vantoro names a password's change 'password of NAME'."""
    return field.startswith('password')


def safe_changes(changes):
    """vantoro's changes, with a password only as its field name, whatever a
    row carries: a password's values never leave the module."""
    out = []
    for change in changes or []:
        field = change.get('field', '')
        if is_password(field):
            out.append(dict(field=field, before=None, after=None))
        else:
            out.append(dict(field=field, before=change.get('before'), after=change.get('after')))
    return out


def changes_diff(rows, single=False):
    """before/after of the fields vantoro changes (or would), per camera (or of
    the single one), in a stable order. A password reads as a placeholder on
    both sides, which still shows it changes and never what it is."""
    before, after = {}, {}
    for row in rows:
        changes = safe_changes(row.get('changes'))
        if not changes:
            continue
        b, a = {}, {}
        for change in changes:
            if is_password(change['field']):
                b[change['field']], a[change['field']] = '(present password)', '(new password)'
            else:
                b[change['field']], a[change['field']] = change['before'], change['after']
        before[row.get('mac', '')], after[row.get('mac', '')] = b, a
    if single:
        return dict(before=dict(*before.values()), after=dict(*after.values()))
    return dict(before=before, after=after)


def one_row(module, document, command, rc, err):
    """The one result row of a command about one camera; the task fails on any other count."""
    rows = document.get('results') or []
    if len(rows) != 1:
        module.fail_json(msg='vantoro %s gave %d results for one camera' % (command, len(rows)), rc=rc, stderr=err)
    return rows[0]


def row_result(row):
    """What a write to one camera returns of vantoro's result row."""
    result = dict(
        changed=row_changed(row),
        result=result_word(row),
        changes=safe_changes(row.get('changes')),
        mismatches=row.get('mismatches') or [],
        diff=changes_diff([row], single=True),
    )
    if row.get('detail'):
        result['detail'] = row['detail']
    return result


def exit_with_row(module, name, row, result, rc, err):
    """Ends the task: failed when vantoro failed or the camera did, with its result and detail."""
    if rc != 0 or row_failed(row):
        module.fail_json(msg='%s: %s%s' % (name, result['result'], ' (%s)' % row['detail'] if row.get('detail') else ''),
                         rc=rc, stderr=err, **result)
    module.exit_json(**result)


class Vantoro(object):
    """Runs vantoro for one module with the common options and reports its failures as the task's."""

    def __init__(self, module):
        self.module = module
        params = module.params
        self.executable = params.get('executable') or module.get_bin_path('vantoro', required=True)

    def search_options(self, wan=True):
        """--wan, --wait, --timeout and --retries as given; vantoro's defaults otherwise."""
        params = self.module.params
        argv = []
        if wan and params.get('wan') is not None:
            argv.append(option('wan', params['wan']))
        for name in ('wait', 'timeout', 'retries'):
            if params.get(name) is not None:
                argv.append(option(name, params[name]))
        return argv

    def environment(self, login_password=None):
        """VANTORO_INTERFACES from the interfaces option and, for one password,
        VANTORO_PASSWORD: in this child's environment only, never in argv."""
        env = {}
        interfaces = self.module.params.get('interfaces')
        if interfaces is not None:
            env['VANTORO_INTERFACES'] = ','.join(interfaces)
        if login_password is not None:
            env['VANTORO_PASSWORD'] = login_password
        return env

    def run(self, argv, data=None, env=None):
        """vantoro with argv (a list, no shell, no expansion of '~' or '$'); returns rc, stdout, stderr."""
        command = [self.executable] + [str(a) for a in argv]
        return self.module.run_command(command, data=data, binary_data=data is None,
                                       environ_update=env or {}, expand_user_and_vars=False,
                                       check_rc=False)

    def run_json(self, argv, data=None, env=None):
        """vantoro's JSON document and exit status. Statuses other than 0 and 1
        fail the task here; 1 is left to the caller, which knows which cameras failed."""
        rc, out, err = self.run(argv, data=data, env=env)
        document = parse_json(out)
        if rc == EXIT_BAD_INPUT:
            self.fail_usage(rc, document, err)
        if rc not in (EXIT_OK, EXIT_CAMERA_FAILED):
            self.fail_status(rc, err)
        if document is None:
            if rc == EXIT_CAMERA_FAILED:
                self.module.fail_json(msg='vantoro failed: %s' % last_lines(err), rc=rc, stderr=err)
            self.module.fail_json(msg='vantoro gave no JSON document on its standard output', rc=rc,
                                  stdout=out, stderr=err)
        return rc, document, err

    def fail_usage(self, rc, document, err):
        """Exit status 2: vantoro refused the request before sending anything."""
        extra = {}
        # A refused plan: each problem, and what each camera would have been sent.
        for key in ('problems', 'results'):
            if isinstance(document, dict) and document.get(key):
                extra[key] = document[key]
        for row in extra.get('results', []):
            row['changes'] = safe_changes(row.get('changes'))
        self.module.fail_json(msg='vantoro refused the request and sent nothing (exit status 2): %s' % last_lines(err),
                              rc=rc, stderr=err, **extra)

    def fail_status(self, rc, err):
        if rc == EXIT_INTERRUPTED:
            msg = 'vantoro was interrupted (exit status 130)'
        else:
            msg = 'vantoro ended with exit status %s' % rc
        self.module.fail_json(msg='%s: %s' % (msg, last_lines(err)), rc=rc, stderr=err)


def parse_json(text):
    try:
        return json.loads(text)
    except ValueError:
        return None


def last_lines(text, count=3):
    """The end of vantoro's standard error, where it names what went wrong."""
    lines = [line for line in (text or '').splitlines() if line.strip()]
    return ' / '.join(lines[-count:]) if lines else '(no message)'
