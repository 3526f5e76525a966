import pytest

import varnel_py


def test_fresh_registry_defaults(reg):
    assert reg.profile() == "standard"
    assert reg.require_context() is False
    assert reg.list() == []
    assert reg.has("User") is False


def test_module_contents_in_order():
    names = [n for n in vars(varnel_py) if not n.startswith("_")]
    assert names[:11] == [
        "Registry", "system_context", "canonical", "to_snake", "to_camel", "to_pascal",
        "translate_name", "detect_conflicts", "resource_content_path",
        "resource_is_external_url", "resource_compose_url",
    ]


def test_system_context_is_a_new_dict_each_call():
    a = varnel_py.system_context()
    assert a == {"internal": True}
    a["internal"] = False
    assert varnel_py.system_context() == {"internal": True}
