import pytest

import varnel_py


def test_canonical_and_styles():
    assert varnel_py.canonical("parseXMLDoc") == ["parse", "xml", "doc"]
    assert varnel_py.canonical("__") == []
    assert varnel_py.to_snake(("user", "id")) == "user_id"
    assert varnel_py.to_camel(["Foo", "bar"]) == "FooBar"
    assert varnel_py.to_pascal(["user", "id"]) == "UserId"
    assert varnel_py.to_snake([]) == ""


@pytest.mark.parametrize("target, result", [
    ("MySQL", "created_at"), ("mongodb", "createdAt"), ("golang", "CreatedAt"), ("PG", "created_at"),
])
def test_translate_name(target, result):
    assert varnel_py.translate_name("createdAt", target) == result


def test_translate_name_unknown_target_is_value_error():
    with pytest.raises(ValueError) as e:
        varnel_py.translate_name("createdAt", "Oracle")
    assert str(e.value) == "未知命名目标: oracle"


def test_detect_conflicts():
    assert varnel_py.detect_conflicts(["_id", "id"]) is None
    with pytest.raises(ValueError) as e:
        varnel_py.detect_conflicts(["userName", "user_name"])
    assert str(e.value) == 'ERR_NAME_CONFLICT:名称 "user_name" 与 "userName" 归一后相同（username）'
    with pytest.raises(ValueError) as e:
        varnel_py.detect_conflicts(("fnRef",))
    assert str(e.value) == 'ERR_NAME_CONFLICT:名称 "fnRef" 归一后命中契约保留键 "fnref"'


@pytest.mark.parametrize("call", [
    lambda: varnel_py.canonical(1),
    lambda: varnel_py.to_snake("abc"),
    lambda: varnel_py.to_camel(["a", 1]),
    lambda: varnel_py.to_pascal(None),
    lambda: varnel_py.translate_name("a", None),
    lambda: varnel_py.detect_conflicts("userName"),
])
def test_wrong_argument_types_are_type_errors(call):
    with pytest.raises(TypeError):
        call()


def test_keyword_arguments():
    assert varnel_py.translate_name(logical="a_b", target="java") == "aB"
    assert varnel_py.to_snake(tokens=["a"]) == "a"


@pytest.mark.parametrize("fn, params", [
    (varnel_py.system_context, []),
    (varnel_py.canonical, ["s"]),
    (varnel_py.to_snake, ["tokens"]),
    (varnel_py.to_camel, ["tokens"]),
    (varnel_py.to_pascal, ["tokens"]),
    (varnel_py.translate_name, ["logical", "target"]),
    (varnel_py.detect_conflicts, ["names"]),
    (varnel_py.resource_content_path, ["sha1"]),
    (varnel_py.resource_is_external_url, ["reference"]),
    (varnel_py.resource_compose_url, ["reference", "cfg"]),
    (varnel_py.Registry.set_fn, ["fn_ref", "callback"]),
    (varnel_py.Registry.clear_fns, []),
])
def test_text_signatures(fn, params):
    import inspect
    assert list(inspect.signature(fn).parameters) == params
