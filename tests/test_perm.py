import pytest

import varnel_py

ARTICLE = {
    "name": "Article",
    "timestamps": False,
    "read": ["creator", "editor"],
    "write": ["editor"],
    "fields": {
        "title": "string",
        "body": {"type": "string", "read": ["editor"]},
        "status": {"type": "string", "write": ["reviewer"]},
        "profile": "object",
    },
    "relations": {"author": {"model": "User", "read": ["editor"]}, "tags": {"model": "Tag"}},
    "computes": {"words": {"fn": True, "read": ["editor"]}, "teaser": {"fn": True}},
}


@pytest.fixture
def articles(reg):
    reg.register(ARTICLE)
    return reg


def test_no_context_allows_everything_and_leaves_sets_unrestricted(articles):
    assert articles.can_read("Article") is True
    assert articles.can_write("Article", None) is True
    assert articles.should_inject_owner("Article") is False
    for method in ("readable_fields", "readable_relations", "readable_computes", "writable_fields"):
        assert getattr(articles, method)("Article") is None


def test_internal_context_gets_full_sorted_sets(articles):
    ctx = varnel_py.system_context()
    assert articles.readable_fields("Article", ctx) == ["body", "profile", "status", "title"]
    assert articles.readable_relations("Article", ctx) == ["author", "tags"]
    assert articles.readable_computes("Article", ctx) == ["teaser", "words"]
    assert articles.writable_fields("Article", ctx) == ["body", "profile", "status", "title"]


def test_role_rules(articles):
    guest = {"userId": "u1", "role": "guest"}
    editor = {"userId": "u2", "roles": ["editor"]}
    assert articles.can_read("Article", guest) is True  # as creator
    assert articles.can_write("Article", guest) is False
    assert articles.readable_fields("Article", guest) == ["profile", "status", "title"]
    assert articles.readable_relations("Article", guest) == ["tags"]
    assert articles.readable_computes("Article", guest) == ["teaser"]
    assert articles.writable_fields("Article", guest) == []
    assert articles.writable_fields("Article", {"role": "reviewer"}) == ["status"]
    assert articles.writable_fields("Article", editor) == ["body", "profile", "title"]
    assert articles.can_write("Article", editor) is True

    articles.set_deny_write_roles(["editor"])
    assert articles.can_write("Article", editor) is False
    assert articles.can_read("Article", editor) is True


def test_posture_and_exempt_roles(reg):
    reg.register({"name": "Open"})
    reg.register({"name": "Locked", "write": []})
    assert reg.can_read("Open", {}) is True
    assert reg.can_write("Locked", {}) is False
    reg.set_unconfigured_policy("closed")
    assert reg.can_read("Open", {}) is False
    with pytest.raises(RuntimeError):
        reg.set_unconfigured_policy("Closed")
    assert reg.can_read("Open", {}) is False
    reg.set_exempt_roles(["root"])
    assert reg.can_read("Open", {"role": "root"}) is True
    assert reg.can_write("Locked", {"role": "root"}) is True


@pytest.mark.parametrize("ctx", ["u1", 3, [{"internal": True}]])
def test_non_object_context_is_no_context(reg, ctx):
    reg.register({"name": "Locked", "read": []})
    reg.set_unconfigured_policy("closed")
    assert reg.can_read("Locked", ctx) is True
    assert reg.readable_fields("Locked", ctx) is None


def test_owner_condition(articles):
    u1 = {"userId": "u1"}
    assert articles.should_inject_owner("Article", u1) is True
    assert articles.merge_owner_condition("Article", u1, {"status": "open"}) == {
        "$and": [{"status": "open"}, {"createdBy": "u1"}]
    }
    assert articles.merge_owner_condition("Article", u1, {}) == {"$and": [{}, {"createdBy": "u1"}]}
    assert articles.merge_owner_condition("Article", u1) == {"createdBy": "u1"}
    assert articles.merge_owner_condition("Article", u1, condition=0) == {"createdBy": "u1"}
    editor = {"userId": "u1", "roles": ["editor"]}
    assert articles.should_inject_owner("Article", editor) is False
    assert articles.merge_owner_condition("Article", editor) is None
    assert articles.merge_owner_condition("Article", editor, {"a": 1}) == {"a": 1}
    assert articles.merge_owner_condition("Article", {}, {"a": 1}) == {"a": 1}


def test_filter_writable_data(articles):
    editor = {"roles": ["editor"]}
    data = {"_id": "x", "title": "t", "profile.name": "n", "status": "s", "junk": 1}
    assert articles.filter_writable_data("Article", editor, data) == {
        "_id": "x", "title": "t", "profile.name": "n"}
    assert articles.filter_writable_data("Article", {"role": "guest"}, data) == {"_id": "x"}
    assert articles.filter_writable_data("Article", None, data) == data
    assert articles.filter_writable_data("Article", editor, [1, 2]) == [1, 2]
    assert articles.filter_writable_data("Article", editor) is None
    assert articles.filter_writable_data(model="Article", data="text", ctx=editor) == "text"


def test_unknown_model_is_looked_up_before_the_context(reg):
    with pytest.raises(RuntimeError) as e:
        reg.can_read("Ghost", {1, 2})
    assert str(e.value) == "Schema 未注册: Ghost" and e.value.code == "other"
    reg.register({"name": "A"})
    with pytest.raises(TypeError):
        reg.can_read("A", {1, 2})
    with pytest.raises(TypeError, match="model"):
        reg.writable_fields(b"A")


def test_text_signatures():
    R = varnel_py.Registry
    assert R.can_read.__text_signature__ == "($self, model, ctx=None)"
    assert R.merge_owner_condition.__text_signature__ == "($self, model, ctx=None, condition=None)"
    assert R.filter_writable_data.__text_signature__ == "($self, model, ctx=None, data=None)"
    assert R.readable_computes.__text_signature__ == "($self, model, ctx=None)"
