"""Cost per document of the conversions local_eval makes, beside json.loads
of the same documents.

py_to_json: a countDocuments that matches nothing (the collection is
converted and scanned once; nothing is converted back). json_to_py: a find
that returns every document, less the count above. Both as microseconds per
document, for documents whose keys already ascend (handed back as given)
and for the same documents with their keys in another order."""

import json
import random
import time

import varnel_py

from local_vs_mongomock import make_docs

N = 50_000


def per_doc(fn, runs=5):
    times = []
    for _ in range(runs):
        t = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t)
    return min(times) / N * 1e6


def main():
    reg = varnel_py.Registry()
    docs = make_docs(N, 1)
    shuffled = []
    rng = random.Random(5)
    for d in docs:
        items = list(d.items())
        rng.shuffle(items)
        shuffled.append(dict(items))
    text = json.dumps(docs)
    loads = per_doc(lambda: json.loads(text))
    print(f"json.loads of the same documents          {loads:6.2f} us/doc")
    for label, data in (("keys ascending", docs), ("keys unordered", shuffled)):
        colls = {"c": data}
        count = {"kind": "countDocuments", "collection": "c", "filter": {"nothing": 1}}
        everything = {"kind": "find", "collection": "c", "filter": {}}
        to_json = per_doc(lambda: reg.local_eval(colls, count))
        both = per_doc(lambda: reg.local_eval(colls, everything))
        print(f"{label}: py_to_json {to_json:6.2f} us/doc   json_to_py (with the result copy) "
              f"{both - to_json:6.2f} us/doc")


if __name__ == "__main__":
    main()
