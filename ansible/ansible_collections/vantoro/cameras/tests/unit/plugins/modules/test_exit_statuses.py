# -*- coding: utf-8 -*-
# Copyright: The Vantoro Config developers
# Apache License 2.0 (see LICENSE in the collection)
"""Every module against every exit status of vantoro that is not a camera's result."""

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import pytest

from ansible_collections.vantoro.cameras.plugins.modules import (
    camera, camera_backup, camera_batch, camera_info, camera_reset, camera_restore, journal_info)
from ansible_collections.vantoro.cameras.tests.unit.plugins.modules.conftest import recorded

LOGIN = dict(login='admin', login_password='L0gin-secret')
MODULES = [
    (camera_info, dict(), 'discover'),
    (camera, dict(LOGIN, mac='00:0a:0b:00:00:01', network=dict(gateway='192.168.1.254')), 'set'),
    (camera_batch, dict(LOGIN, cameras=[dict(mac='00:0a:0b:00:00:01', gateway='192.168.1.254')]), 'apply'),
    (camera_backup, dict(mac='00:0a:0b:00:00:01'), 'export'),  # dest: in the test's folder
    (camera_restore, dict(LOGIN, src='/srv/backup.json'), 'import'),
    (camera_reset, dict(LOGIN, mac='00:0a:0b:00:00:01'), 'reset'),
    (journal_info, dict(), 'log'),
]
STATUSES = [
    ((2, '', 'vantoro: --gateway wants a dotted IPv4 address\n'),
     'vantoro refused the request and sent nothing (exit status 2): vantoro: --gateway wants a dotted IPv4 address'),
    ((130, '', 'interrupted; nothing was sent\n'), 'vantoro was interrupted (exit status 130)'),
    ((139, '', ''), 'vantoro ended with exit status 139'),
    ((1, '', 'vantoro: the camera did not answer\n'), 'vantoro failed: vantoro: the camera did not answer'),
    ((0, 'not json', ''), 'vantoro gave no JSON document on its standard output'),
]


@pytest.mark.parametrize('module, params, command', MODULES, ids=[m[0].__name__.split('.')[-1] for m in MODULES])
@pytest.mark.parametrize('reply, message', STATUSES, ids=['usage', 'interrupted', 'signal', 'failed', 'garbage'])
def test_every_status_is_a_clear_failure(run_module, tmp_path, module, params, command, reply, message):
    if module is camera_backup:
        params = dict(params, dest=str(tmp_path / 'backup.json'))
        if reply[0] == 0:
            # export writes a file and says so in words; one that is no export fails.
            message = 'vantoro export wrote no export to read back'
        elif reply[0] == 1:
            message = 'vantoro ended with exit status 1'
    run = run_module(module, params, {command: reply})
    assert run.failed
    assert run.values['msg'].startswith(message), run.values['msg']
    assert 'Traceback' not in run.values['msg']


def test_a_refused_plan_names_its_problems(run_module):
    stderr = 'vantoro: 00 0A 0B 00 00 01  ethernet_ip 192.168.1.11: camera 00 0A 0B 00 00 02 holds it and keeps it\n'
    run = run_module(camera, dict(LOGIN, mac='00:0a:0b:00:00:01', network=dict(ethernet_ip='192.168.1.11')),
                     {'set': (2, recorded('refused.json'), stderr)})
    assert run.failed and run.values['rc'] == 2
    assert run.values['problems'][0]['reason'] == 'camera 00 0A 0B 00 00 02 holds it and keeps it'
    assert run.values['results'][0]['result'] == 'not started'
    assert run.values['results'][0]['changes'][0]['after'] == '192.168.1.11'
    assert 'camera 00 0A 0B 00 00 02 holds it and keeps it' in run.values['msg']


@pytest.mark.parametrize('module, params, command', MODULES, ids=[m[0].__name__.split('.')[-1] for m in MODULES])
def test_executable_and_search_options_reach_every_command(run_module, tmp_path, module, params, command):
    if module is camera_backup:
        params = dict(params, dest=str(tmp_path / 'backup.json'))
    run = run_module(module, dict(params, executable='/opt/vantoro/bin/vantoro', wan='10.1.0.0/24', wait=300,
                                  timeout=500, retries=1, interfaces=['eth1', 'eth2']), {command: (2, '', 'stop')})
    call = run.call(command)
    assert call['argv'][0] == '/opt/vantoro/bin/vantoro'
    if command == 'log':  # the journal is local: nothing is searched
        assert not [a for a in call['argv'] if a.startswith(('--wan', '--wait', '--timeout', '--retries'))]
    else:
        assert call['argv'][-4:] == ['--wan=10.1.0.0/24', '--wait=300', '--timeout=500', '--retries=1']
        assert call['env']['VANTORO_INTERFACES'] == 'eth1,eth2'
