import math

import pytest


def find(coll="c", **kw):
    return {"kind": "find", "collection": coll, **kw}


def test_envelope_keys_and_sorted_documents(reg):
    env = reg.local_eval({"c": [{"b": 1, "a": 2, "_id": 1}]}, find())
    assert list(env) == ["changed", "collections", "result"]
    assert env["changed"] == []
    assert list(env["result"][0]) == ["_id", "a", "b"]


def test_write_returns_the_new_collection_and_keeps_the_others(reg):
    others = [{"x": 1}]
    given = {"c": [{"_id": 1}], "o": others}
    env = reg.local_eval(given, {"kind": "insertOne", "collection": "c", "doc": {"_id": 2, "b": [1]}})
    assert env == {"changed": ["c"], "collections": {"c": [{"_id": 1}, {"_id": 2, "b": [1]}], "o": others},
                   "result": {"_id": 2, "b": [1]}}
    assert given == {"c": [{"_id": 1}], "o": others}
    assert list(env["collections"]) == ["c", "o"]


@pytest.mark.parametrize("given, returned", [
    ({"c": ({"a": 1},)}, {"c": [{"a": 1}]}),
    ({"c": [{"a": float("nan")}]}, {"c": [{"a": None}]}),
    ({"c": [{"b": 1, "a": 2}]}, {"c": [{"a": 2, "b": 1}]}),
    ({"c": [{1: "x"}]}, {"c": [{"1": "x"}]}),
    ({"c": [{"a": 2**64}]}, {"c": [{"a": float(2**64)}]}),
    ({"c": [True, 2**63, -1, 1.5, "s", None]}, {"c": [True, 2**63, -1, 1.5, "s", None]}),
])
def test_read_returns_the_collections_as_converted(reg, given, returned):
    env = reg.local_eval(given, {"kind": "countDocuments", "collection": "x"})
    assert env["collections"] == returned
    for name, rows in env["collections"].items():
        assert type(rows) is list
        for doc in rows:
            if isinstance(doc, dict):
                assert list(doc) == sorted(doc)


def test_errors_surface_with_code_other(reg):
    with pytest.raises(RuntimeError) as e:
        reg.local_eval({"c": 5}, find())
    assert str(e.value) == '集合 "c" 必须是文档数组，收到 number'
    assert e.value.code == "other"
    with pytest.raises(RuntimeError, match="未支持的命令: update"):
        reg.local_eval({}, {"kind": "update", "collection": "c"})


def test_argument_errors(reg):
    with pytest.raises(TypeError):
        reg.local_eval({})
    with pytest.raises(TypeError, match="不支持的 Python 类型"):
        reg.local_eval({"c": [{"a": {1, 2}}]}, find())
    env = reg.local_eval(collections={}, command=find())
    assert env["result"] == []


def test_a_failed_write_changes_nothing(reg):
    given = {"c": [{"_id": 1, "tags": ["a"]}, {"_id": 2, "n": 1}]}
    snapshot = {"c": [{"_id": 1, "tags": ["a"]}, {"_id": 2, "n": 1}]}
    for update in ({"$set": {"tags.0": "x"}}, {"$set": {"": 5}}, {"$inc": {"n": 1, "tags": 1}},
                   {"$set": {"n": 2}, "$push": {"tags": 1}}):
        with pytest.raises(RuntimeError):
            reg.local_eval(given, {"kind": "updateMany", "collection": "c", "filter": {}, "update": update})
        assert given == snapshot


def test_relation_predicates_in_a_write_pre_command(reg):
    collections = {
        "users": [{"_id": "u1"}, {"_id": "u2"}],
        "posts": [{"_id": "p1", "authorId": "u1", "status": "open"}],
    }
    lookup = {"$lookup": {"as": "__rp0__posts", "from": "posts",
                          "let": {"rel__id": {"$ifNull": ["$_id", None]}},
                          "pipeline": [{"$match": {"$and": [{"$expr": {"$eq": ["$authorId", "$$rel__id"]}},
                                                            {"status": "open"}]}},
                                       {"$group": {"_id": "$authorId", "n": {"$sum": 1}}},
                                       {"$match": {"n": {"$gt": 0}}}]}}
    for exists, ids in ((True, ["u1"]), (False, ["u2"])):
        pre = {"kind": "aggregate", "collection": "users",
               "pipeline": [lookup, {"$match": {"__rp0__posts.0": {"$exists": exists}}}, {"$project": {"_id": 1}}]}
        assert [d["_id"] for d in reg.local_eval(collections, pre)["result"]] == ids


def nested(depth, leaf):
    value = leaf
    for _ in range(depth):
        value = {"$and": [value]}
    return value


def test_deep_and_huge_input_gives_errors_or_results(reg):
    with pytest.raises(TypeError, match="嵌套深度"):
        reg.local_eval({}, find(filter=nested(100_000, {"a": 1})))
    deep_doc = []
    for _ in range(100_000):
        deep_doc = [deep_doc]
    with pytest.raises(TypeError, match="嵌套深度"):
        reg.local_eval({"c": [{"a": deep_doc}]}, find())
    with pytest.raises(TypeError, match="嵌套深度"):
        reg.local_eval({}, {"kind": "aggregate", "collection": "c", "pipeline": [{"$match": nested(100_000, {})}]})
    # Just inside the depth bound: evaluated, not refused.
    env = reg.local_eval({"c": [{"a": 1}]}, find(filter=nested(200, {"a": 1})))
    assert env["result"] == [{"a": 1}]
    members = list(range(1_000_000))
    docs = [{"_id": i, "n": i * 3} for i in range(20_000)]
    env = reg.local_eval({"c": docs}, {"kind": "countDocuments", "collection": "c", "filter": {"n": {"$in": members}}})
    assert env["result"] == len(docs)
    big = {"c": [{"tags": list(range(200_000))}]}
    env = reg.local_eval(big, {"kind": "aggregate", "collection": "c",
                               "pipeline": [{"$unwind": {"path": "$tags"}}, {"$group": {"_id": None, "s": {"$sum": "$tags"}}}]})
    assert env["result"] == [{"_id": None, "s": sum(range(200_000))}]


def test_pathological_regex_finishes(reg):
    env = reg.local_eval({"c": [{"s": "a" * 200_000}]}, find(filter={"s": {"$regex": "^(a+)+$b"}}))
    assert env["result"] == []
    with pytest.raises(RuntimeError, match=r"^\$regex 模式非法: \(a（"):
        reg.local_eval({"c": [{"s": "a"}]}, find(filter={"s": {"$regex": "(a"}}))


def test_numbers_keep_their_kinds(reg):
    docs = [{"_id": 1, "n": 2**63 + 5, "f": 0.5, "i": -7}]
    env = reg.local_eval({"c": docs}, {"kind": "updateMany", "collection": "c", "filter": {},
                                       "update": {"$inc": {"i": 1, "f": 0.25}}})
    doc = env["collections"]["c"][0]
    assert doc == {"_id": 1, "n": 2**63 + 5, "f": 0.75, "i": -6}
    assert type(doc["i"]) is int and type(doc["f"]) is float
    env = reg.local_eval({"c": [{"x": 1.5}, {"x": 1.5}]}, {"kind": "aggregate", "collection": "c",
                                                         "pipeline": [{"$group": {"_id": None, "s": {"$sum": "$x"}}}]})
    assert env["result"] == [{"_id": None, "s": 3}] and type(env["result"][0]["s"]) is int
    assert not math.isnan(env["result"][0]["s"])
