import pytest

import varnel_py

DOC = {
    "name": "Doc",
    "timestamps": False,
    "fields": {
        "a": "string",
        "b": "string",
        "c": "string",
        "secret": {"type": "string", "read": ["boss"], "write": ["boss"]},
    },
}

POLICY = {
    "grants": [
        {"role": "g", "model": "Doc", "actions": ["read", "insert"],
         "readFields": ["b", "c", "secret"], "writeFields": ["a"]},
        {"role": "t", "model": "Doc", "actions": ["read", "update"], "condition": {"team": "x"}},
        {"role": "o", "model": "*", "actions": ["read", "remove"], "ownerOnly": True},
        {"role": "free", "model": "Doc", "actions": ["read"]},
    ]
}


@pytest.fixture
def docs(reg):
    reg.register(DOC)
    reg.register({"name": "Other", "fields": {"x": "string"}})
    reg.set_rbac(POLICY)
    return reg


def test_set_rbac_installs_replaces_and_clears(reg):
    assert reg.rbac_enabled() is False
    reg.set_rbac({})
    assert reg.rbac_enabled() is True
    reg.set_rbac(None)
    assert reg.rbac_enabled() is False


@pytest.mark.parametrize("policy, message", [
    ([], "RBAC 策略必须是对象"),
    ({"mode": "enforce"}, "RBAC mode=enforce 时 roles 不能为空（无受管角色 = 策略空转，属配置错误）"),
    ({"mode": "Enforce"}, 'RBAC mode "Enforce" 非法（仅支持 overlay / enforce）'),
    ({"grants": [{"role": "a", "model": "M", "actions": ["read"], "readFields": []}]},
     "RBAC grants[0].readFields 不能为空数组（全禁请移除该 grant）"),
    ({"grants": [{"role": "a", "model": "M", "actions": ["read"],
                  "condition": {"status": {"$in": [1]}}}]},
     'RBAC grants[0].condition["status"] 必须是标量（string/number/bool/null），实际 {"$in":[1]}'),
])
def test_set_rbac_refusal_keeps_the_previous_policy(docs, policy, message):
    with pytest.raises(RuntimeError) as e:
        docs.set_rbac(policy)
    assert str(e.value) == message
    assert e.value.code == "other"
    assert docs.rbac_enabled() is True
    assert docs.rbac_can("Doc", "update", {"role": "g"}) is False  # still the old policy


def test_set_rbac_converts_its_argument(reg):
    with pytest.raises(TypeError):
        reg.set_rbac({"grants": {1, 2}})
    assert reg.rbac_enabled() is False


@pytest.mark.parametrize("ctx, action, allowed", [
    ({"role": "g"}, "read", True),
    ({"role": "g"}, "insert", True),
    ({"role": "g"}, "update", False),
    ({"role": "g"}, "remove", False),
    ({"roles": ["g", "t"]}, "update", True),
    ({"role": "nobody"}, "remove", True),  # not governed: the static rules decide
    (None, "remove", True),
    ({"internal": True, "role": "g"}, "update", True),
    ({"role": "root"}, "update", True),  # exempt
])
def test_rbac_can(docs, ctx, action, allowed):
    docs.set_exempt_roles(["root"])
    assert docs.rbac_can("Doc", action, ctx) is allowed


def test_rbac_can_argument_errors(docs):
    with pytest.raises(RuntimeError) as e:
        docs.rbac_can("Doc", "write", {"role": "g"})
    assert str(e.value) == 'RBAC action "write" 非法（仅支持 read / insert / update / remove）'
    assert e.value.code == "other"
    with pytest.raises(RuntimeError, match="^Schema 未注册: Nope$"):
        docs.rbac_can("Nope", "write")
    with pytest.raises(TypeError):
        docs.rbac_can("Doc", 1)
    with pytest.raises(TypeError):
        docs.rbac_can(model=b"Doc", action="read")


def test_enforce_mode_governs_managed_roles_without_grants(docs):
    docs.set_rbac({"mode": "enforce", "roles": {"m": {}},
                   "grants": [{"role": "m", "model": "Other", "actions": ["read"]}]})
    for action in ("read", "insert", "update", "remove"):
        assert docs.rbac_can("Doc", action, {"role": "m"}) is False
        assert docs.rbac_can("Doc", action, {"role": "other"}) is True
    assert docs.rbac_can("Other", "read", {"role": "m"}) is True


def test_field_overlays(docs):
    # Static: "secret" is readable for boss only; the grant narrows to b, c, secret.
    assert docs.rbac_readable_fields("Doc", {"role": "g"}) == ["b", "c"]
    assert docs.rbac_readable_fields("Doc", {"roles": ["g", "boss"]}) == ["b", "c", "secret"]
    assert docs.rbac_readable_fields("Doc", {"roles": ["g", "free"]}) == ["a", "b", "c"]
    assert docs.rbac_readable_fields("Doc", {"role": "nobody"}) == ["a", "b", "c"]
    assert docs.rbac_readable_fields("Doc") is None
    assert docs.rbac_writable_fields("Doc", {"role": "g"}) == ["a"]
    assert docs.rbac_writable_fields("Doc", {"role": "t"}) == ["a", "b", "c"]
    assert docs.rbac_writable_fields("Doc", ctx=None) is None
    # The static methods stay static.
    assert docs.readable_fields("Doc", {"role": "g"}) == ["a", "b", "c"]


def test_row_conditions(docs):
    ctx = {"roles": ["t", "o"], "userId": "u1"}
    assert docs.rbac_row_condition("Doc", "read", ctx) == {"$or": [{"team": "x"}, {"createdBy": "u1"}]}
    assert docs.rbac_row_condition("Doc", "update", ctx) == {"team": "x"}
    assert docs.rbac_row_condition("Other", "remove", ctx) == {"createdBy": "u1"}
    assert docs.rbac_row_condition("Doc", "read", {"roles": ["t", "o", "free"], "userId": "u1"}) is None
    assert docs.rbac_row_condition("Doc", "read", {"role": "o"}) == {"__rbac_impossible__": True}
    assert docs.rbac_row_condition("Doc", "read", varnel_py.system_context()) is None
    assert docs.rbac_row_condition("Doc", "read") is None


def test_row_condition_action_is_checked_before_the_model(docs):
    with pytest.raises(ValueError) as e:
        docs.rbac_row_condition("Nope", "insert", {"role": "t"})
    assert str(e.value) == 'RBAC row_condition 的 action "insert" 非法（仅支持 read / update / remove）'
    with pytest.raises(RuntimeError, match="^Schema 未注册: Nope$"):
        docs.rbac_row_condition("Nope", "read")


def test_signatures(reg):
    assert reg.rbac_can.__text_signature__ == "($self, model, action, ctx=None)"
    assert reg.rbac_row_condition.__text_signature__ == "($self, model, action, ctx=None)"
    assert reg.rbac_readable_fields.__text_signature__ == "($self, model, ctx=None)"
    assert reg.set_rbac.__text_signature__ == "($self, policy)"
    assert reg.rbac_enabled.__text_signature__ == "($self)"
