import pytest

import varnel_py

CONFIG = {
    "sources": {"pg": {"kind": "pg", "databases": ["shop"]},
                "my": {"kind": "mysql", "databases": ["crm", "crm_eu"]}},
    "defs": ["defs"],
}

DEFAULT_LOCATION = {"database": None, "priority": None, "role": None, "schema": None,
                    "source": "default"}


def runtime_error(call, *args):
    with pytest.raises(RuntimeError) as e:
        call(*args)
    return str(e.value), e.value.code


# ---- plan_load ----

def test_plan_load_returns_located_items_in_name_order(reg):
    items = reg.plan_load(CONFIG, [
        {"rel": "shop/sales/user.json", "defn": {"name": "User"}},
        {"rel": "crm\\lead.json", "defn": {"name": "Lead"}, "extra": 1},
        {"rel": "crm_eu/user.json", "defn": {"name": "User", "replica": True}},
    ])
    assert items == [
        {"defn": {"name": "Lead"},
         "location": {"database": "crm", "priority": None, "role": None, "schema": None,
                      "source": "my"}},
        {"defn": {"name": "User"},
         "location": {"database": "shop", "priority": None, "role": None, "schema": "sales",
                      "source": "pg"}},
        {"defn": {"name": "User", "replica": True},
         "location": {"database": "crm_eu", "priority": None, "role": None, "schema": None,
                      "source": "my"}},
    ]
    assert reg.list() == []  # planning registers nothing


@pytest.mark.parametrize("files, message", [
    ("x", "files 必须是数组"),
    ({"rel": "a"}, "files 必须是数组"),
    ([["crm/a.json", {}]], "files 项必须是 {rel, defn} 对象"),
    ([{"defn": {}}], "files 项缺 rel"),
    ([{"rel": 3, "defn": {}}], "files 项缺 rel"),
    ([{"rel": "crm/a.json"}], "files 项缺 defn"),
    # Elements are checked one after the other: the first bad one is reported.
    ([{"rel": "crm/a.json"}, 5], "files 项缺 defn"),
    ([{"defn": {}}, "crm/b.json"], "files 项缺 rel"),
])
def test_plan_load_file_entry_type_errors(reg, files, message):
    with pytest.raises(TypeError) as e:
        reg.plan_load(CONFIG, files)
    assert str(e.value) == message


def test_plan_load_errors_are_runtime_errors_with_code_other(reg):
    assert runtime_error(reg.plan_load, CONFIG, [{"rel": "crm/a.json", "defn": None}]) == (
        "ERR:LOAD schema 定义必须是对象", "other")
    assert runtime_error(reg.plan_load, CONFIG, [
        {"rel": "crm/a.json", "defn": {"name": "A", "collection": "items"}},
        {"rel": "crm/b.json", "defn": {"name": "B", "collection": "items"}},
    ]) == ("ERR:LOAD 落点冲突: items 同时映射 (my, Some(\"crm\"), None)"
           "（同一落点只能有一个 collection；冲突名 `A` 与 `B`）", "other")
    # The configuration is checked before the file entries.
    assert runtime_error(reg.plan_load, {"sources": {}}, "not a list") == (
        "ERR:LOAD sources 不得为空", "other")


# ---- registration ----

def test_register_derives_the_archive_companion(reg):
    assert reg.register({"name": "Order", "collection": "order"}) is None
    assert reg.list() == ["Order", "OrderDeleted"]
    reg.register({"name": "Order", "fields": {"a": "string"}})
    reg.register({"name": "Log", "_isArchive": True})
    assert reg.list() == ["Order", "OrderDeleted", "Log"]


@pytest.mark.parametrize("defn, message", [
    (None, "schema 定义必须是对象"),
    ({"title": "no name"}, "schema 缺少 name"),
    ({"name": "A", "timestamps": 0}, "timestamps 仅支持 true/false/'ms'/'s'，实际 0"),
    ({"name": "A", "fields": {"x": 5}}, "字段 x 定义类型非法（须为类型字符串或对象）"),
    ({"name": "A", "fields": {"type": "string"}},
     "ERR_NAME_CONFLICT:名称 \"type\" 归一后命中契约保留键 \"type\""),
])
def test_register_refusals(reg, defn, message):
    assert runtime_error(reg.register, defn) == (message, "other")
    assert reg.list() == []


def test_hostile_definitions_never_crash(reg):
    deep = 1
    for _ in range(200):  # 400 levels, within the conversion limit
        deep = {"d": [deep]}
    reg.register({"name": "N" * 50000, "fields": {"f" * 50000: {"type": "x", "default": deep}},
                  "relations": [deep], "computes": {"c": deep}, "triggers": [], "indexes": deep,
                  "read": {"a": 1}, "idPrefix": deep, "timestamps": None})
    assert reg.has("N" * 50000)
    too_deep = 1
    for _ in range(600):
        too_deep = [too_deep]
    with pytest.raises(TypeError):
        reg.register({"name": "X", "fields": {"f": {"default": too_deep}}})
    with pytest.raises(RuntimeError):
        reg.register({"name": "X", "computes": {"c": {"agg": {"$sum": deep}}}})
    assert reg.list() == ["N" * 50000, "N" * 50000 + "Deleted"]


def test_register_batch_with_locations(reg):
    reg.register_batch([
        {"defn": {"name": "Order"}, "location": {"source": "my", "database": "crm"}},
        {"defn": {"name": "Order", "replica": True},
         "location": {"source": "my", "database": "eu", "schema": "", "role": "replica",
                      "priority": 2}},
    ], None)
    assert reg.list() == ["Order", "OrderDeleted"]
    assert reg.schema_datasource("OrderDeleted") == "my"
    reg.register_batch([{"defn": {"name": "Plain"}, "location": {}}], ctx=None)
    assert reg.schema_datasource("Plain") is None


@pytest.mark.parametrize("items, error, message", [
    ({"defn": {}}, TypeError, "items 必须是数组"),
    ([1], TypeError, "items 项必须是 {defn, location} 对象"),
    ([{"location": {}}], TypeError, "items 项缺 defn"),
    ([{"defn": {"name": "A"}}], TypeError, "items 项缺 location"),
    ([{"defn": {"name": "A"}, "location": "default"}], TypeError, "location 必须是对象"),
    ([{"defn": {"name": "A"}, "location": {"priority": 1.0}}], TypeError,
     "location.priority 必须是整数"),
    ([{"defn": {"name": "A"}, "location": {"priority": 2 ** 63}}], TypeError,
     "location.priority 必须是整数"),
    ([{"defn": {"name": "A"}, "location": {"role": "Primary"}}], RuntimeError,
     "未知链路角色: Primary（仅 primary/replica/cache/archive）"),
    # Elements are checked one after the other: the first bad one is reported.
    ([{"location": {}}, 1], TypeError, "items 项缺 defn"),
    ([{"defn": {"name": "A"}, "location": []}, 1], TypeError, "location 必须是对象"),
    ([{"defn": {"name": "A"}, "location": {"role": "x"}}, 1], RuntimeError,
     "未知链路角色: x（仅 primary/replica/cache/archive）"),
    ([{"defn": {"name": "A", "replica": 1}, "location": {}}], RuntimeError,
     "未找到主 schema: A（从定义 `replica` 必须伴随同批主定义，或该 name 已注册）"),
])
def test_register_batch_refusals(reg, items, error, message):
    with pytest.raises(error) as e:
        reg.register_batch(items, None)
    assert str(e.value) == message
    assert reg.list() == []


def test_register_batch_is_all_or_nothing(reg):
    reg.register({"name": "Keep", "fields": {"a": "string"}})
    items = [{"defn": {"name": f"M{i}"}, "location": {"source": "s", "database": "d"}}
             for i in range(500)]
    items.append({"defn": {"name": "Bad", "fields": {"deleted_at": "number"}}, "location": {}})
    with pytest.raises(RuntimeError, match="ERR_NAME_CONFLICT"):
        reg.register_batch(items, None)
    assert reg.list() == ["Keep", "KeepDeleted"]
    assert reg.readable_fields("Keep", {}) == ["a", "createdAt", "updatedAt"]


def test_definition_layer_gate(reg):
    reg.set_meta_policy(True, ["schema-admin"])
    assert reg.can_register(None) is False
    assert reg.can_register({"roles": ["schema-admin"]}) is True
    assert reg.can_register(varnel_py.system_context()) is True
    assert reg.can_register("internal") is False
    assert runtime_error(reg.register, {"name": "A"}) == (
        "ERR_PERMISSION: 无权注册或覆盖定义 A", "permission_denied")
    items = [{"defn": {"name": "B"}, "location": {}}, {"defn": {"name": "C"}, "location": {}}]
    assert runtime_error(reg.register_batch, items, {"role": "guest"}) == (
        "ERR_PERMISSION: 无权注册或覆盖定义 B", "permission_denied")
    assert runtime_error(reg.register_with_ctx, {"name": "A"}, None)[1] == "permission_denied"
    reg.register_with_ctx({"name": "A"}, {"internal": True})
    reg.register_batch(items, {"role": "schema-admin"})
    reg.register_batch([], None)
    assert reg.list() == ["A", "ADeleted", "B", "BDeleted", "C", "CDeleted"]


def test_apply_link_decls(reg):
    reg.register({"name": "Order"})
    assert reg.apply_link_decls(CONFIG) is None  # no links at all
    cfg = dict(CONFIG, links={"Order": [
        {"source": "my", "database": "crm", "role": "primary"},
        {"source": "pg", "role": "replica", "priority": 1}]})
    reg.apply_link_decls(cfg)
    # The placements now include the link locations, so a model on one of them conflicts.
    with pytest.raises(RuntimeError, match="已被 schema `Order` 占用"):
        reg.register_batch([{"defn": {"name": "Other", "collection": "Order"},
                             "location": {"source": "pg", "database": "shop"}}], None)

    bad = dict(CONFIG, links={"Ghost": [{"source": "pg", "role": "primary"}]})
    assert runtime_error(reg.apply_link_decls, bad) == (
        "未注册 schema: Ghost（config.links 引用了不存在的 schema）", "other")
    assert runtime_error(reg.apply_link_decls, {"links": {}}) == (
        "ERR:LOAD 缺 sources（须为 { name: { kind, databases } } 对象）", "other")


def test_a_context_that_calls_back_is_refused_not_reentered(reg):
    seen = []

    class Key:
        def __str__(self):
            try:
                reg.register({"name": "Inner"})
            except RuntimeError as e:
                seen.append(str(e))
            return "role"

    reg.register_batch([{"defn": {"name": "Outer"}, "location": {}}], {Key(): "x"})
    assert len(seen) == 1 and "borrowed" in seen[0]
    assert reg.list() == ["Outer", "OuterDeleted"]


def test_text_signatures():
    R = varnel_py.Registry
    assert R.plan_load.__text_signature__ == "($self, config, files)"
    assert R.register.__text_signature__ == "($self, defn)"
    assert R.register_batch.__text_signature__ == "($self, items, ctx)"
    assert R.register_with_ctx.__text_signature__ == "($self, defn, ctx)"
    assert R.can_register.__text_signature__ == "($self, ctx)"
    assert R.apply_link_decls.__text_signature__ == "($self, config)"
