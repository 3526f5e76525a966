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


def test_policy_setters(reg):
    reg.set_require_context(True)
    assert reg.require_context() is True
    reg.set_profile("text2query")
    assert reg.profile() == "text2query"
    reg.set_exempt_roles(["admin"])
    reg.set_deny_write_roles(("guest",))
    reg.set_unconfigured_policy("closed")
    reg.set_meta_policy(True, ["schema-admin"])
    reg.set_meta_policy(closed=False, roles=[])


def test_set_profile_unknown_is_value_error_and_keeps_profile(reg):
    reg.set_profile("text2query")
    with pytest.raises(ValueError) as e:
        reg.set_profile("Text2Query")
    assert str(e.value) == "未知 profile: Text2Query（仅 standard / text2query）"
    assert reg.profile() == "text2query"


def test_set_unconfigured_policy_unknown_is_runtime_error(reg):
    with pytest.raises(RuntimeError) as e:
        reg.set_unconfigured_policy("deny")
    assert str(e.value) == "未知 unconfigured_policy: deny（仅 open / closed）"
    assert e.value.code == "other"


@pytest.mark.parametrize("call", [
    lambda r: r.has(1),
    lambda r: r.set_require_context(1),
    lambda r: r.set_require_context("yes"),
    lambda r: r.set_profile(None),
    lambda r: r.set_exempt_roles("admin"),
    lambda r: r.set_deny_write_roles([1]),
    lambda r: r.set_meta_policy(0, []),
    lambda r: r.set_meta_policy(True, None),
    lambda r: r.set_unconfigured_policy(b"open"),
])
def test_wrong_argument_types_are_type_errors(reg, call):
    with pytest.raises(TypeError):
        call(reg)


def test_clear_schemas_on_base_keeps_policy(reg):
    reg.set_require_context(True)
    reg.clear_schemas()
    assert reg.list() == []
    assert reg.require_context() is True


def test_conflicting_call_raises_at_once(reg):
    seen = []

    class Roles:
        """A sequence whose conversion calls back into the registry."""

        def __len__(self):
            return 1

        def __getitem__(self, i):
            if i > 0:
                raise IndexError
            try:
                reg.has("x")
            except RuntimeError as e:
                seen.append(str(e))
            return "admin"

    reg.set_exempt_roles(Roles())
    assert len(seen) == 1 and "borrowed" in seen[0]
    assert reg.has("x") is False  # released afterwards


def test_text_signatures():
    R = varnel_py.Registry
    expected = {
        "has": "($self, name)",
        "list": "($self)",
        "clear_schemas": "($self)",
        "set_require_context": "($self, require)",
        "require_context": "($self)",
        "set_profile": "($self, profile)",
        "profile": "($self)",
        "set_exempt_roles": "($self, roles)",
        "set_deny_write_roles": "($self, roles)",
        "set_unconfigured_policy": "($self, policy)",
        "set_meta_policy": "($self, closed, roles)",
    }
    assert {name: getattr(R, name).__text_signature__ for name in expected} == expected
    assert varnel_py.system_context.__text_signature__ == "()"
