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
