"""Loading a store from disk: what a Host writes around plan_load and register_batch.

The store lives in examples/store: `store.config.json` names the data sources and
the definition roots; below each root, the first directory is a database and, on
PostgreSQL, the next one a schema namespace. The core reads no files: the Host
scans them, hands them to `plan_load`, and registers the planned batch.
"""

import json
import pathlib

import varnel_py

STORE = pathlib.Path(__file__).resolve().parent / "store"


def scan(root):
    """Reads store.config.json and every *.json definition below its roots."""
    config = json.loads((root / "store.config.json").read_text(encoding="utf-8"))
    defs = config.get("defs") if isinstance(config, dict) else None
    files = []
    # plan_load checks the configuration itself; the scan only skips what it cannot use.
    for def_root in defs if isinstance(defs, list) else []:
        if not isinstance(def_root, str) or not def_root:
            continue
        base = root / def_root
        for path in sorted(base.rglob("*.json")):
            files.append({"rel": path.relative_to(base).as_posix(),
                          "defn": json.loads(path.read_text(encoding="utf-8"))})
    return config, files


def load_store(reg, root=STORE, ctx=None):
    """Plans and registers the whole store in one all-or-nothing batch, then
    applies the configuration's link declarations. Returns the load plan."""
    config, files = scan(root)
    items = reg.plan_load(config, files)
    reg.register_batch(items, ctx)
    reg.apply_link_decls(config)
    return config, items


def place(location):
    parts = [location["source"], location["database"], location["schema"]]
    return "/".join(p for p in parts if p)


def main():
    reg = varnel_py.Registry()
    reg.set_meta_policy(True, ["schema-admin"])
    config, items = load_store(reg, ctx={"userId": "ops", "roles": ["schema-admin"]})

    print(f"load plan from {STORE.name}/ ({len(items)} items)")
    for item in items:
        kind = "replica" if item["defn"].get("replica") else "primary"
        print(f"  {item['defn']['name']:13} {kind:8} -> {place(item['location'])}")

    kinds = {name: src["kind"] for name, src in config["sources"].items()}
    print("\nregistered models")
    for name in reg.list():
        source = reg.schema_datasource(name)
        kind = reg.resolve_datasource(name, {"sources": kinds})
        print(f"  {name:19} source {source or 'default':10} kind {kind}")
    links = config.get("links") or {}
    for name, decls in links.items():
        print(f"  links of {name}: " + ", ".join(
            f"{d['source']} ({d.get('role')})" for d in decls))

    print("\naccess to User")
    for who, ctx in [("staff", {"userId": "s1", "roles": ["staff"]}),
                     ("hr", {"userId": "h1", "roles": ["hr"]}),
                     ("customer", {"userId": "c7"})]:
        print(f"  {who:9} can_read {reg.can_read('User', ctx)!s:5} "
              f"fields {reg.readable_fields('User', ctx)} "
              f"owner filter {reg.merge_owner_condition('User', ctx, {'name': 'Ann'})}")

    print("\nall or nothing")
    before = reg.list()
    try:
        reg.register_batch(items + [{"defn": {"name": "Broken", "timestamps": "days"},
                                     "location": {"source": "main", "database": "app"}}],
                           varnel_py.system_context())
    except RuntimeError as e:
        print(f"  refused: {e}")
    print(f"  catalog unchanged: {reg.list() == before}")
    try:
        reg.register({"name": "Sneaky"})
    except RuntimeError as e:
        print(f"  without context: {e} (code {e.code})")


if __name__ == "__main__":
    main()
