import pytest

import varnel_py


@pytest.fixture
def placed(reg):
    reg.register({"name": "Home"})
    reg.register_batch([{"defn": {"name": "Far"}, "location": {"source": "pg1"}}], None)
    return reg


def test_schema_datasource(placed):
    assert placed.schema_datasource("Home") is None
    assert placed.schema_datasource(schema_name="Far") == "pg1"
    with pytest.raises(RuntimeError, match="Schema 未注册: Nope"):
        placed.schema_datasource("Nope")
    with pytest.raises(TypeError, match="schema_name"):
        placed.schema_datasource(1)


@pytest.mark.parametrize("name, config, kind", [
    ("Home", None, "mongo"),
    ("Home", [1], "mongo"),
    ("Home", {"other": 1}, "mongo"),
    ("Home", {"sources": {"default": "MySQL"}}, "mysql"),
    ("Far", {"sources": {"pg1": "PostgreSQL"}}, "postgres"),
    ("Far", {"sources": {"pg1": "Memory"}}, "local"),
    ("Far", {"sources": {"pg1": "sqlite"}}, "sqlite"),
])
def test_resolve_datasource(placed, name, config, kind):
    assert placed.resolve_datasource(name, config) == kind


@pytest.mark.parametrize("config, message", [
    (None, "schema 绑定的数据源未在配置中声明: pg1"),
    ({"sources": {"pg1": 1}}, "数据源 pg1 的 kind 必须是字符串"),
    ({"sources": {"pg1": "Oracle"}}, "不支持的后端: oracle"),
])
def test_resolve_datasource_refusals(placed, config, message):
    with pytest.raises(RuntimeError) as e:
        placed.resolve_datasource("Far", config)
    assert str(e.value) == message and e.value.code == "other"


def test_text_signatures():
    assert varnel_py.Registry.schema_datasource.__text_signature__ == "($self, schema_name)"
    assert (varnel_py.Registry.resolve_datasource.__text_signature__
            == "($self, schema_name, config=None)")
