# -*- coding: utf-8 -*-
# Copyright: The Vantoro Config developers
# Apache License 2.0 (see LICENSE in the collection)
"""Runs a module in-process against recorded vantoro output: each vantoro
command answers with a recorded exit status, standard output and standard
error, and every argv, standard input and environment is kept for the test."""

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import json
import os

import pytest

from ansible.module_utils import basic
from ansible.module_utils.common.text.converters import to_bytes

FIXTURES = os.path.join(os.path.dirname(__file__), 'fixtures')


def recorded(name):
    """A recorded vantoro standard output."""
    with open(os.path.join(FIXTURES, name)) as handle:
        return handle.read()


def recorded_json(name):
    return json.loads(recorded(name))


class Ended(Exception):
    """exit_json or fail_json: the module's return values, before Ansible's masking."""

    def __init__(self, failed, values):
        super(Ended, self).__init__(values.get('msg'))
        self.failed = failed
        self.values = values


class Run(object):
    def __init__(self, failed, values, calls):
        self.failed = failed
        self.values = values
        self.calls = calls

    def call(self, command):
        """The one call of this vantoro command."""
        found = [c for c in self.calls if c['argv'][1] == command]
        assert len(found) == 1, [c['argv'] for c in self.calls]
        return found[0]

    def commands(self):
        return [c['argv'][1] for c in self.calls]


@pytest.fixture
def run_module(monkeypatch, tmp_path):
    """run_module(module, params, replies, check_mode=False): replies maps a
    vantoro command to (rc, stdout, stderr), or to a function of the call
    that returns one."""

    def run(module, params, replies, check_mode=False):
        calls = []

        def fake_run_command(self, args, data=None, environ_update=None, expand_user_and_vars=True, **kwargs):
            assert isinstance(args, list), 'vantoro runs from a list of arguments, never a shell string'
            assert expand_user_and_vars is False, "a camera name with '$' or '~' must reach vantoro as written"
            call = dict(argv=list(args), data=data, env=dict(environ_update or {}))
            calls.append(call)
            reply = replies[args[1]]
            return reply(call) if callable(reply) else reply

        def ended(failed):
            def end(self, **values):
                raise Ended(failed, values)
            return end

        args = dict(params, _ansible_check_mode=check_mode, _ansible_diff=True, _ansible_tmpdir=str(tmp_path),
                    _ansible_remote_tmp=str(tmp_path), _ansible_keep_remote_files=True)
        monkeypatch.setattr(basic, '_ANSIBLE_ARGS', to_bytes(json.dumps({'ANSIBLE_MODULE_ARGS': args})))
        monkeypatch.setattr(basic.AnsibleModule, 'run_command', fake_run_command)
        monkeypatch.setattr(basic.AnsibleModule, 'get_bin_path', lambda self, name, required=False: '/usr/bin/' + name)
        monkeypatch.setattr(basic.AnsibleModule, 'exit_json', ended(False))
        monkeypatch.setattr(basic.AnsibleModule, 'fail_json', ended(True))
        with pytest.raises(Ended) as end:
            module.main()
        return Run(end.value.failed, end.value.values, calls)

    return run


def assert_secret_kept(run, *secrets):
    """No secret in any argv, nor in anything the module returns."""
    for call in run.calls:
        for arg in call['argv']:
            for secret in secrets:
                assert secret not in arg, call['argv']
    returned = json.dumps(run.values)
    for secret in secrets:
        assert secret not in returned
