"""The sample store of examples/ loads from disk through the Host loader."""

import importlib.util
import json
import pathlib

import pytest

EXAMPLES = pathlib.Path(__file__).resolve().parent.parent / "examples"
spec = importlib.util.spec_from_file_location("load_store", EXAMPLES / "load_store.py")
load_store = importlib.util.module_from_spec(spec)
spec.loader.exec_module(load_store)


def test_sample_store_registers(reg):
    _, items = load_store.load_store(reg)
    assert [(i["defn"]["name"], load_store.place(i["location"])) for i in items] == [
        ("AuditLog", "warehouse/analytics"),
        ("DailyRevenue", "warehouse/analytics/sales"),
        ("Order", "main/app"),
        ("Order", "edge/edge_cache"),
        ("User", "main/app"),
    ]
    assert reg.list() == ["AuditLog", "DailyRevenue", "DailyRevenueDeleted", "Order",
                          "OrderDeleted", "User", "UserDeleted"]


def write_store(root, config, files):
    (root / "store.config.json").write_text(json.dumps(config))
    for rel, defn in files.items():
        path = root / "defs" / rel
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(json.dumps(defn))


def test_a_bad_store_registers_nothing(reg, tmp_path):
    config = {"sources": {"db": {"kind": "mysql", "databases": ["a", "b"]}}, "defs": ["defs"]}
    write_store(tmp_path, config, {"a/user.json": {"name": "User"},
                                   "b/user.json": {"name": "User"}})
    with pytest.raises(RuntimeError) as e:
        load_store.load_store(reg, tmp_path)
    assert str(e.value) == ("ERR:LOAD 主定义重复: User（a/user.json 与 b/user.json）"
                            "——同名只允许一份主，其余须 replica:true")
    assert reg.list() == []


def test_a_config_without_roots_is_reported_by_the_core(reg, tmp_path):
    write_store(tmp_path, {"sources": {"db": {"kind": "mysql", "databases": ["a"]}},
                           "defs": "defs"}, {})
    with pytest.raises(RuntimeError, match="ERR:LOAD defs 须为非空字符串数组"):
        load_store.load_store(reg, tmp_path)
