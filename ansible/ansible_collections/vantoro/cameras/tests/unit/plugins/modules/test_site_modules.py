# -*- coding: utf-8 -*-
# Copyright: The Vantoro Config developers
# Apache License 2.0 (see LICENSE in the collection)
"""camera_info, camera_batch, camera_backup, camera_restore, camera_reset and
journal_info against recorded vantoro output."""

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import csv
import json
import os
import stat

import pytest

from ansible_collections.vantoro.cameras.plugins.modules import (
    camera_backup, camera_batch, camera_info, camera_reset, camera_restore, journal_info)
from ansible_collections.vantoro.cameras.tests.unit.plugins.modules.conftest import (
    assert_secret_kept, recorded, recorded_json)

LOGIN = 'L0gin-secret'
CREDENTIALS = dict(login='admin', login_password=LOGIN)
DISCOVER = (0, recorded('discover.json'), '')
SHOW = (0, recorded('show.json'), '')


# camera_info

def test_info_lists_every_camera_and_changes_nothing(run_module):
    for check_mode in (False, True):
        run = run_module(camera_info, dict(), {'discover': DISCOVER}, check_mode=check_mode)
        assert not run.failed and not run.values['changed']
        assert run.values['cameras'] == recorded_json('discover.json')['cameras']
        assert run.values['answers_lost'] == 0
        assert run.call('discover')['argv'][1:] == ['discover', '--format=json']


def test_info_details_add_the_tables_with_passwords_hidden(run_module):
    run = run_module(camera_info, dict(macs=['00 0A 0B 00 00 01'], details=True, wan='127.0.0.0/30'),
                     {'discover': DISCOVER, 'show': SHOW})
    assert [c['mac'] for c in run.values['cameras']] == ['00:0a:0b:00:00:01']
    cam = run.values['cameras'][0]
    assert cam['camera_names'][0] == 'Cam 1 Entrance' and cam['domains'][0]['name'] == 'ntp.vantoro.example'
    assert set(u['password'] for u in cam['users']) == {'***'}
    # show goes to the one address the camera answered from, not the range
    assert run.call('show')['argv'][1:] == ['show', '00:0a:0b:00:00:01', '--format=json', '--wan=127.0.0.1']
    assert '--show-passwords' not in run.call('show')['argv']


def test_info_fails_naming_a_camera_that_did_not_answer(run_module):
    run = run_module(camera_info, dict(macs=['00:0a:0b:00:00:02', '00:0a:0b:00:00:09']), {'discover': DISCOVER})
    assert run.failed and run.values['msg'] == 'these cameras did not answer: 00:0a:0b:00:00:09'
    assert [c['mac'] for c in run.values['cameras']] == ['00:0a:0b:00:00:02']


# camera_batch

def written_csv(call):
    with open(call['argv'][2]) as handle:
        return list(csv.reader(handle)), stat.S_IMODE(os.stat(call['argv'][2]).st_mode)


def test_batch_writes_apply_csv_and_passes_the_password_in_the_environment(run_module):
    seen = {}

    def apply(call):
        seen['csv'] = written_csv(call)
        return 0, recorded('apply-dry-run.json').replace('"not found"', '"unchanged"'), ''
    run = run_module(camera_batch, dict(CREDENTIALS, parallel=4, cameras=[
        dict(mac='00:0a:0b:00:00:01', gateway='192.168.1.254', camera_name_1='Gate, north', server=False),
        dict(mac='00 0A 0B 00 00 02', bootp=True)]), {'apply': apply}, check_mode=True)
    rows, mode = seen['csv']
    assert mode == 0o600
    assert rows[0][:4] == ['mac', 'ethernet_ip', 'ethernet_mask', 'gateway'] and rows[0][-4] == 'camera_name_1'
    first = dict(zip(rows[0], rows[1]))
    assert (first['gateway'], first['camera_name_1'], first['server'], first['bootp']) == (
        '192.168.1.254', 'Gate, north', 'off', '')
    assert dict(zip(rows[0], rows[2]))['bootp'] == 'on'
    call = run.call('apply')
    assert call['argv'][3:] == ['--login=admin', '--format=json', '--dry-run', '--parallel=4']
    assert call['env'] == {'VANTORO_PASSWORD': LOGIN}
    assert run.values['changed'] and not run.failed
    assert run.values['diff']['after'] == {'00:0a:0b:00:00:01': {'gateway': '192.168.1.254', 'camera_name_1': "'Gate'"}}
    assert_secret_kept(run, LOGIN)


@pytest.mark.parametrize('fixture, rc, changed', [
    ('apply-not-found.json', 1, True),     # one applied and verified, one never answered
    ('apply-refused.json', 2, False),
])
def test_batch_fails_when_a_camera_failed_and_returns_every_result(run_module, fixture, rc, changed):
    run = run_module(camera_batch, dict(CREDENTIALS, src='/srv/fleet.csv'), {'apply': (rc, recorded(fixture), '')})
    assert run.failed and run.values['rc'] == rc
    if rc == 1:
        assert run.values['msg'] == '1 of 2 cameras failed: 00:0a:0b:00:00:09'
        assert [r['result'] for r in run.values['results']] == ['applied', 'not found']
        assert run.values['changed'] is changed and run.call('apply')['argv'][2] == '/srv/fleet.csv'
    else:
        assert run.values['results'][0]['detail'] == 'the plan was refused'


def test_batch_refuses_unknown_keys_before_running_vantoro(run_module):
    run = run_module(camera_batch, dict(CREDENTIALS, cameras=[dict(mac='00:0a:0b:00:00:01', gatway='1.2.3.4')]), {})
    assert run.failed and run.values['msg'] == 'cameras[0]: unknown keys gatway' and run.calls == []


# camera_backup

def export_reply(source_text):
    def export(call):
        with open(call['argv'][3], 'w') as handle:
            handle.write(source_text)
        return 0, 'exported 00 0A 0B 00 00 01 to %s\n' % call['argv'][3], ''
    return export


@pytest.mark.parametrize('check_mode', [False, True])
def test_backup_writes_a_new_export_0600_and_none_in_check_mode(run_module, tmp_path, check_mode):
    dest = tmp_path / 'cam1.json'
    run = run_module(camera_backup, dict(mac='00:0a:0b:00:00:01', dest=str(dest)),
                     {'export': export_reply(recorded('export.json'))}, check_mode=check_mode)
    assert not run.failed and run.values['changed'] and run.values['dest'] == str(dest)
    assert dest.exists() is not check_mode
    if not check_mode:
        assert stat.S_IMODE(dest.stat().st_mode) == 0o600
        assert json.loads(dest.read_text()) == recorded_json('export.json')


def test_backup_keeps_a_file_with_the_same_records_though_read_at_another_time(run_module, tmp_path):
    dest = tmp_path / 'cam1.json'
    older = recorded_json('export.json')
    older['read_at'] = '2020-01-01T00:00:00Z'
    dest.write_text(json.dumps(older))
    dest.chmod(0o600)
    run = run_module(camera_backup, dict(mac='00:0a:0b:00:00:01', dest=str(dest)),
                     {'export': export_reply(recorded('export.json'))})
    assert not run.failed and not run.values['changed']
    assert json.loads(dest.read_text())['read_at'] == '2020-01-01T00:00:00Z'

    changed = recorded_json('export.json')
    changed['records']['general'] = changed['records']['general'][:-4] + 'AAAA'
    run = run_module(camera_backup, dict(mac='00:0a:0b:00:00:01', dest=str(dest)),
                     {'export': export_reply(json.dumps(changed))})
    assert run.values['changed'] and json.loads(dest.read_text())['records'] == changed['records']


# camera_restore and camera_reset

@pytest.mark.parametrize('check_mode', [False, True])
def test_restore_of_what_the_camera_holds_is_unchanged(run_module, check_mode):
    run = run_module(camera_restore, dict(CREDENTIALS, src='/srv/cam1.json'),
                     {'import': (0, recorded('import-unchanged.json'), '')}, check_mode=check_mode)
    call = run.call('import')
    assert call['argv'][1:5] == ['import', '/srv/cam1.json', '--login=admin', '--format=json']
    assert ('--dry-run' in call['argv']) is check_mode and call['env'] == {'VANTORO_PASSWORD': LOGIN}
    assert not run.failed and not run.values['changed'] and run.values['result'] == 'unchanged'
    assert_secret_kept(run, LOGIN)


@pytest.mark.parametrize('check_mode', [False, True])
def test_reset_is_a_change_and_check_mode_sends_nothing(run_module, check_mode):
    run = run_module(camera_reset, dict(CREDENTIALS, mac='00:0a:0b:00:00:02'),
                     {'reset': (0, recorded('reset-dry-run.json' if check_mode else 'reset-sent.json'), '')},
                     check_mode=check_mode)
    assert ('--dry-run' in run.call('reset')['argv']) is check_mode
    assert not run.failed and run.values['changed']
    assert run.values['result'] == ('would apply' if check_mode else 'sent')
    assert run.call('reset')['env'] == {'VANTORO_PASSWORD': LOGIN}


# journal_info

def test_journal_entries_with_their_filters(run_module):
    run = run_module(journal_info, dict(mac='00:0a:0b:00:00:02', since='2026-12-07'), {'log': (0, recorded('log.json'), '')})
    assert run.call('log')['argv'][1:] == ['log', '--format=json', '--mac=00:0a:0b:00:00:02', '--since=2026-12-07']
    assert run.values['entries'] == recorded_json('log.json') and not run.values['changed']
