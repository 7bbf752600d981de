# -*- coding: utf-8 -*-
# Copyright: The Vantoro Config developers
# Apache License 2.0 (see LICENSE in the collection)

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import json

import pytest

from ansible_collections.vantoro.cameras.plugins.modules import camera
from ansible_collections.vantoro.cameras.tests.unit.plugins.modules.conftest import (
    assert_secret_kept, recorded)

LOGIN = 'L0gin-secret'
MAC = '00:0a:0b:00:00:01'
BASE = dict(mac=MAC, login='admin', login_password=LOGIN)
SHOW = (0, recorded('show.json'), '')


def edits(run):
    """The set call's edits: what follows the fixed arguments, without the search options."""
    argv = run.call('set')['argv']
    return [a for a in argv[3:] if not a.startswith(('--login=', '--secrets=', '--format=', '--wan=', '--wait='))]


def secrets(run):
    return json.loads(run.call('set')['data'])


def test_declared_state_becomes_set_edits_and_secrets_go_to_stdin(run_module):
    run = run_module(camera, dict(
        BASE, wan='127.0.0.1', wait=300,
        network=dict(gateway='192.168.1.254', server=False),
        camera_names={1: 'Gate', 3: ''},
        users=[dict(name='viewer', password='n3w-viewer-pw', permissions=['view']),
               dict(name='Operator', password='operator', permissions=[]),
               dict(name='guest', password='gu3st-pw', permissions=['adjust', 'view']),
               dict(name='nobody', state='absent')],
        domains=[dict(name='ntp.vantoro.example', address='192.168.1.5'),
                 dict(name='mail.vantoro.example', address='192.168.1.7'),
                 dict(name='cam1.vantoro.example', state='absent'),
                 dict(name='nvr', address='192.168.1.9')],
    ), {'show': SHOW, 'set': (0, recorded('set-verified.json'), '')})

    assert run.commands() == ['show', 'set']
    assert run.call('show')['argv'][1:] == ['show', MAC, '--format=json', '--show-passwords', '--wan=127.0.0.1',
                                            '--wait=300']
    assert edits(run) == [
        '--gateway=192.168.1.254', '--server=off', '--camera-name=1=Gate', '--camera-name=3=',
        '--password=viewer', '--permissions=viewer=view',
        '--permissions=Operator=none',  # same password: not sent again
        '--add-user=guest', '--permissions=guest=view,adjust',
        '--delete-domain=mail.vantoro.example', '--add-domain=mail.vantoro.example=192.168.1.7',
        '--delete-domain=cam1.vantoro.example', '--add-domain=nvr=192.168.1.9']
    assert '--secrets=-' in run.call('set')['argv'] and '--dry-run' not in run.call('set')['argv']
    assert secrets(run) == dict(login_password=LOGIN, new_passwords={'viewer': 'n3w-viewer-pw', 'guest': 'gu3st-pw'})
    assert run.call('set')['env'] == {}
    assert not run.failed and run.values['changed'] and run.values['result'] == 'verified'
    assert_secret_kept(run, LOGIN, 'n3w-viewer-pw', 'gu3st-pw', 'operator')


def test_check_mode_asks_for_a_dry_run_and_reports_its_changes_and_diff(run_module):
    run = run_module(camera, dict(BASE, network=dict(gateway='192.168.1.254'),
                                  users=[dict(name='viewer', password='n3w-viewer-pw')]),
                     {'show': SHOW, 'set': (0, recorded('set-would-apply.json'), '')}, check_mode=True)
    assert '--dry-run' in run.call('set')['argv']
    assert run.values['changed'] and run.values['result'] == 'would apply'
    assert run.values['changes'][0] == dict(field='gateway', before='192.168.1.1', after='192.168.1.254')
    assert run.values['diff'] == dict(
        before={'gateway': '192.168.1.1', 'password of viewer': '(present password)'},
        after={'gateway': '192.168.1.254', 'password of viewer': '(new password)'})
    assert_secret_kept(run, LOGIN, 'n3w-viewer-pw')


@pytest.mark.parametrize('check_mode', [False, True])
def test_unchanged_camera_is_not_changed(run_module, check_mode):
    run = run_module(camera, dict(BASE, network=dict(gateway='192.168.1.1')),
                     {'set': (0, recorded('set-unchanged.json'), '')}, check_mode=check_mode)
    assert not run.failed and not run.values['changed'] and run.values['result'] == 'unchanged'
    assert run.values['diff'] == dict(before={}, after={})


def test_users_and_domains_already_as_declared_send_nothing(run_module):
    run = run_module(camera, dict(BASE, users=[dict(name='viewer', password='viewer')],
                                  domains=[dict(name='NTP.vantoro.example', address='192.168.1.5')]),
                     {'show': SHOW})
    assert run.commands() == ['show']
    assert not run.failed and not run.values['changed']


def test_replaced_deletes_what_is_not_declared_but_never_the_login_user(run_module):
    run = run_module(camera, dict(BASE, state='replaced', users=[dict(name='viewer')], domains=[]),
                     {'show': SHOW, 'set': (0, recorded('set-verified.json'), '')})
    assert edits(run) == ['--delete-user=operator', '--delete-domain=cam1.vantoro.example',
                          '--delete-domain=mail.vantoro.example', '--delete-domain=ntp.vantoro.example']


@pytest.mark.parametrize('params, message', [
    (dict(users=[dict(name='ADMIN', state='absent')]), 'is the login user'),
    (dict(users=[dict(name='guest')]), 'needs its password'),
    (dict(domains=[dict(name='nvr')]), 'wants an address'),
    (dict(camera_names={5: 'x'}), 'the keys are 1 to 4'),
    (dict(mac='00:0a:0b'), 'is not a MAC'),
])
def test_declarations_that_cannot_be_done_fail_before_anything_is_sent(run_module, params, message):
    run = run_module(camera, dict(BASE, **params), {'show': SHOW})
    assert run.failed and message in run.values['msg']
    assert 'set' not in run.commands()


def test_on_create_leaves_a_present_users_password(run_module):
    run = run_module(camera, dict(BASE, update_password='on_create',
                                  users=[dict(name='viewer', password='n3w-viewer-pw', permissions=['view'])]),
                     {'show': SHOW, 'set': (0, recorded('set-unchanged.json'), '')})
    assert edits(run) == ['--permissions=viewer=view']
    assert secrets(run)['new_passwords'] == {}


def test_force_and_no_verify(run_module):
    run = run_module(camera, dict(BASE, network=dict(gateway='10.0.0.1'), force=True, verify=False),
                     {'set': (0, recorded('set-verified.json'), '')})
    assert '--force' in run.call('set')['argv'] and '--no-verify' in run.call('set')['argv']


@pytest.mark.parametrize('reply, word, detail', [
    ((1, recorded('set-mismatch.json'), ''), 'mismatch', None),
    ((1, recorded('set-no-ack.json'), ''), 'failed', 'no acknowledgement at step general'),
])
def test_a_camera_that_failed_fails_the_task_with_vantoros_result(run_module, reply, word, detail):
    run = run_module(camera, dict(BASE, network=dict(gateway='192.168.1.254')), {'set': reply})
    assert run.failed and run.values['result'] == word and run.values['rc'] == 1
    assert run.values.get('detail') == detail
    assert MAC in run.values['msg'] and word in run.values['msg']


def test_a_password_change_never_carries_values_out_of_the_module(run_module):
    document = json.loads(recorded('set-would-apply.json'))
    document['results'][0]['changes'][1].update(before='viewer', after='n3w-viewer-pw')
    run = run_module(camera, dict(BASE, users=[dict(name='viewer', password='n3w-viewer-pw')]),
                     {'show': SHOW, 'set': (0, json.dumps(document), '')}, check_mode=True)
    assert run.values['changes'][1] == {'field': 'password of viewer', 'before': None, 'after': None}
    assert_secret_kept(run, 'n3w-viewer-pw')
