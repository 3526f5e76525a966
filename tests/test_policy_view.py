import gc
import weakref

import pytest

import varnel_py

READONLY = "ERR_POLICY_VIEW_READONLY: 非 base 策略视图禁止注册/清空 schema（目录唯一真源在 base Registry）"
GRANT = {"grants": [{"role": "g", "model": "Doc", "actions": ["read"]}]}


@pytest.fixture
def base(reg):
    reg.register({"name": "Doc", "fields": {"a": "string"}})
    reg.set_rbac(GRANT)
    return reg


def test_empty_overrides_keep_every_setting(base):
    base.set_profile("text2query")
    base.set_require_context(True)
    base.set_unconfigured_policy("closed")
    view = base.with_policy({})
    assert isinstance(view, varnel_py.Registry)
    assert view.profile() == "text2query"
    assert view.require_context() is True
    assert view.rbac_enabled() is True
    assert view.rbac_can("Doc", "insert", {"role": "g"}) is False
    assert view.can_read("Doc", {"role": "u"}) is False  # closed posture kept
    assert view.list() == base.list() == ["Doc", "DocDeleted"]


def test_overrides_replace_settings_of_the_view_only(base):
    base.set_exempt_roles(["root"])
    base.set_unconfigured_policy("closed")
    view = base.with_policy({
        "roleRules": {"denyWriteRoles": ["guest"]},
        "rbac": None,
        "profile": "text2query",
        "requireContext": True,
    })
    # The role rules are replaced whole: no exempt roles, open posture.
    assert view.can_read("Doc", {"role": "u"}) is True
    assert view.can_write("Doc", {"role": "guest"}) is False
    assert view.can_write("Doc", {"role": "root"}) is True
    assert view.rbac_enabled() is False
    assert view.profile() == "text2query"
    assert view.require_context() is True

    assert base.can_read("Doc", {"role": "u"}) is False
    assert base.can_write("Doc", {"role": "root"}) is True  # exempt
    assert base.rbac_enabled() is True
    assert base.profile() == "standard"
    assert base.require_context() is False


def test_view_with_its_own_rbac_and_view_of_a_view(base):
    view = base.with_policy({"rbac": {"grants": [{"role": "g", "model": "Doc", "actions": ["insert"]}]}})
    assert view.rbac_can("Doc", "insert", {"role": "g"}) is True
    assert base.rbac_can("Doc", "insert", {"role": "g"}) is False
    inner = view.with_policy({"metaPolicy": {"closed": True}})
    assert inner.rbac_can("Doc", "insert", {"role": "g"}) is True
    assert inner.can_register({"role": "g"}) is False
    assert view.can_register({"role": "g"}) is True
    # Setters act on the registry they are called on.
    inner.set_rbac(None)
    assert inner.rbac_enabled() is False
    assert view.rbac_enabled() is True


@pytest.mark.parametrize("policy, message", [
    ([], "策略覆盖必须是 JSON 对象"),
    ({"metaPolicy": {"closed": 1}}, "metaPolicy.closed 必须是布尔"),
    ({"roleRules": {"exemptRoles": ["a", 1]}}, "roleRules.exemptRoles 的元素必须都是字符串"),
    ({"rbac": {"mode": "x"}}, 'RBAC mode "x" 非法（仅支持 overlay / enforce）'),
    ({"profile": "text2query", "strict": True}, "ERR_POLICY_VIEW_READONLY: 未知策略覆盖键 `strict`"),
])
def test_refused_overrides(base, policy, message):
    with pytest.raises(RuntimeError) as e:
        base.with_policy(policy)
    assert str(e.value) == message
    assert e.value.code == "other"


def test_view_refuses_catalog_changes(base):
    view = base.with_policy({})
    with pytest.raises(RuntimeError) as e:
        view.register({"name": "New"})
    assert str(e.value) == READONLY
    assert e.value.code == "other"
    with pytest.raises(BaseException) as e:
        view.clear_schemas()
    assert isinstance(e.value, varnel_py.FatalError)
    assert str(e.value) == READONLY
    assert view.has("Doc") and not view.has("New")


def test_view_keeps_its_snapshot(base):
    view = base.with_policy({})
    base.register({"name": "Later"})
    assert view.has("Later") is False
    base.clear_schemas()
    assert base.list() == []
    assert view.list() == ["Doc", "DocDeleted"]
    assert view.rbac_readable_fields("Doc", {"role": "g"}) == ["a", "createdAt", "updatedAt"]


def test_callback_table_is_shared(base):
    class Fn:
        def __call__(self, doc):
            return 1

    fn = Fn()
    alive = weakref.ref(fn)
    view = base.with_policy({})
    view.set_fn("price", fn)
    del fn, view
    gc.collect()
    assert alive() is not None  # the base holds the table the view wrote to
    base.clear_fns()
    assert alive() is None


def test_signature(reg):
    assert reg.with_policy.__text_signature__ == "($self, policy)"
