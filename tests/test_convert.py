"""Python <-> JSON conversion, observed through a function that renders
converted values as JSON text (template variables of resource_compose_url)."""

import pytest

import varnel_py


def rendered(value):
    """The JSON text of `value` after conversion (scalars only)."""
    return varnel_py.resource_compose_url("ab", {"pathTemplate": "{v}", "vars": {"v": value}})


@pytest.mark.parametrize("value, text", [
    (True, "true"),
    (False, "false"),
    (1, "1"),
    (-(2**63), "-9223372036854775808"),
    (2**63 - 1, "9223372036854775807"),
    (2**63, "9223372036854775808"),
    (2**64 - 1, "18446744073709551615"),
    (2**64, "1.8446744073709552e+19"),
    (-(2**63) - 1, "-9.223372036854776e+18"),
    (1.5, "1.5"),
    (float("nan"), ""),
    (float("inf"), ""),
    (None, ""),
    ("é", "é"),
])
def test_scalars(value, text):
    assert rendered(value) == text


def test_int_subclasses_are_ints_but_bool_is_not():
    class Big(int):
        pass

    assert rendered(Big(7)) == "7"
    assert rendered(True) == "true"


@pytest.mark.parametrize("value", [10**400, -(10**400)])
def test_integers_beyond_double_raise_type_error(value):
    with pytest.raises(TypeError):
        rendered(value)


@pytest.mark.parametrize("value", [{1, 2}, frozenset(), b"x", object(), 1j])
def test_unsupported_types_raise_type_error(value):
    with pytest.raises(TypeError) as e:
        rendered(value)
    assert str(e.value) == "不支持的 Python 类型（需为 None/bool/int/float/str/list/tuple/dict）"


def test_unsupported_types_nested_in_containers():
    with pytest.raises(TypeError):
        varnel_py.resource_compose_url("ab", {"vars": {"v": [1, (2, {3})]}})


def test_non_str_keys_go_through_str_and_later_duplicates_win():
    cfg = {"pathTemplate": "{1}|{None}|{2.5}", "vars": {1: "a", "1": "b", None: "n", 2.5: "f"}}
    assert varnel_py.resource_compose_url("ab", cfg) == "b|n|f"
    cfg = {"pathTemplate": "{True}", "vars": {True: "t"}}
    assert varnel_py.resource_compose_url("ab", cfg) == "t"
    cfg = {"pathTemplate": "{1}", "vars": {"1": "b", 1: "a"}}
    assert varnel_py.resource_compose_url("ab", cfg) == "a"


def test_tuples_and_subclasses_convert():
    class D(dict):
        pass

    cfg = D(pathTemplate="{v}", vars=D(v="x"))
    assert varnel_py.resource_compose_url("ab", cfg) == "x"
    assert varnel_py.resource_compose_url("ab", ("not", "an", "object")) == "ab"


def test_deep_nesting_is_refused_not_a_crash():
    deep = []
    for _ in range(100_000):
        deep = [deep]
    with pytest.raises(TypeError, match="嵌套深度"):
        varnel_py.resource_compose_url("ab", deep)
    deep = {}
    for _ in range(100_000):
        deep = {"a": deep}
    with pytest.raises(TypeError, match="嵌套深度"):
        varnel_py.resource_compose_url("ab", deep)


def test_moderate_nesting_converts():
    nested = "x"
    for _ in range(250):  # 500 levels of containers
        nested = {"a": [nested]}
    assert varnel_py.resource_compose_url("ab", {"extra": nested}) == "ab"


def test_dict_resized_during_conversion_is_fatal():
    d = {}

    class Key:
        def __str__(self):
            d["added"] = 1
            return "k"

    d[Key()] = 1
    d["z"] = 2
    with pytest.raises(BaseException) as e:
        varnel_py.resource_compose_url("ab", d)
    assert isinstance(e.value, varnel_py.FatalError)
    assert not isinstance(e.value, Exception)


def test_key_str_failure_propagates():
    class Key:
        def __str__(self):
            raise KeyError("nope")

    with pytest.raises(KeyError):
        varnel_py.resource_compose_url("ab", {Key(): 1})


def test_unencodable_text_raises():
    with pytest.raises(UnicodeEncodeError):
        varnel_py.resource_compose_url("ab", {"x": "\ud800"})
