# -*- coding: utf-8 -*-
# Copyright: The Vantoro Config developers
# Apache License 2.0 (see LICENSE in the collection)
"""Every plugin imports with nothing but ansible-core (in place of ansible-test's
import sanity test, which needs a network to build its environment)."""

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import glob
import importlib
import os

import pytest

PLUGINS = os.path.join(os.path.dirname(__file__), '..', '..', '..', 'plugins')
NAMES = sorted('ansible_collections.vantoro.cameras.plugins.%s.%s' % (kind, os.path.basename(path)[:-3])
               for kind in ('modules', 'module_utils', 'doc_fragments')
               for path in glob.glob(os.path.join(PLUGINS, kind, '*.py')) if not path.endswith('__init__.py'))


def test_every_module_is_found():
    assert len([n for n in NAMES if '.modules.' in n]) == 7


@pytest.mark.parametrize('name', NAMES)
def test_plugin_imports(name):
    module = importlib.import_module(name)
    if '.modules.' in name:
        assert callable(module.main)
        for text in ('DOCUMENTATION', 'EXAMPLES', 'RETURN'):
            assert getattr(module, text).strip()
