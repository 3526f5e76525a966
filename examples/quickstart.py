"""A first tour of varnel_py: a registry, its policy, names and resources,
then a store loaded from disk (load_store.py)."""

import varnel_py

import load_store


def main():
    reg = varnel_py.Registry()
    print("new registry: profile", reg.profile(),
          "| require_context", reg.require_context(), "| schemas", reg.list())

    reg.set_require_context(True)
    reg.set_profile("text2query")
    reg.set_exempt_roles(["admin"])
    reg.set_meta_policy(True, ["schema-admin"])
    print("after policy setup: profile", reg.profile(),
          "| require_context", reg.require_context())

    print("\nnames")
    for name in ["userName", "HTMLParser", "order-line_ID"]:
        print(f"  {name!r:18} tokens {varnel_py.canonical(name)}")
    for target in ["postgres", "mongodb", "golang"]:
        print(f"  createdAt for {target:9} -> {varnel_py.translate_name('createdAt', target)}")
    try:
        varnel_py.detect_conflicts(["userName", "user_name"])
    except ValueError as e:
        print("  conflict:", e)

    print("\nresources")
    cfg = {"baseUrl": "https://cdn.example.test/", "pathTemplate": "{contentPath}",
           "query": {"w": 200}}
    for ref in ["3f786850e387550fdab836ed7e6dc881de23001b", "https://img.example.test/a.png"]:
        print(f"  {ref[:24]:26} -> {varnel_py.resource_compose_url(ref, cfg)}")

    print("\n" + "-" * 60)
    load_store.main()


if __name__ == "__main__":
    main()
