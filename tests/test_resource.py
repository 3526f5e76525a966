import pytest

import varnel_py


def test_external_urls():
    assert varnel_py.resource_is_external_url("  HTTPS://h/a") is True
    assert varnel_py.resource_is_external_url("DATA:image/png;base64,AA") is True
    assert varnel_py.resource_is_external_url("ftp://h") is False
    assert varnel_py.resource_is_external_url("data") is False


def test_content_path():
    assert varnel_py.resource_content_path("abcdef") == "objects/ab/abcdef"
    with pytest.raises(RuntimeError) as e:
        varnel_py.resource_content_path("a")
    assert str(e.value) == 'sha1 非法（长度 < 2）: "a"'
    assert e.value.code == "other"


@pytest.mark.parametrize("ref, cfg, url", [
    ("abcdef", None, "abcdef"),
    ("abcdef", {"baseUrl": "/cdn/", "pathTemplate": "{contentPath}"}, "/cdn/objects/ab/abcdef"),
    ("abcdef", {"baseUrl": "/cdn", "pathTemplate": "/files/{key}?v={ver}", "vars": {"ver": 3}},
     "/cdn/files/abcdef?v=3"),
    ("abcdef", {"query": {"w": 200, "t": "{key} x"}}, "abcdef?t=abcdef%20x&w=200"),
    ("abcdef", {"pathTemplate": "{size}/{key}"}, "{size}/abcdef"),
    ("https://h/i.png", {"externalPassthrough": 0}, "https://h/i.png"),
])
def test_compose_url(ref, cfg, url):
    assert varnel_py.resource_compose_url(ref, cfg) == url


@pytest.mark.parametrize("ref, cfg, message", [
    ("https://h/i.png", {"externalPassthrough": False}, '外部 URL 直返被禁用: "https://h/i.png"'),
    ("", None, "resource reference 为空"),
    ("a", None, 'sha1 非法（长度 < 2）: "a"'),
])
def test_compose_url_refusals(ref, cfg, message):
    with pytest.raises(RuntimeError) as e:
        varnel_py.resource_compose_url(ref, cfg)
    assert str(e.value) == message
    assert e.value.code == "other"


def test_reference_must_be_str():
    with pytest.raises(TypeError):
        varnel_py.resource_compose_url(b"ab", None)
