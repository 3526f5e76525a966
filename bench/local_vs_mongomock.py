"""local_eval against mongomock on the same commands and data, in one run.

Every local_eval timing includes converting the collections from Python and
the envelope back to Python. mongomock's data is loaded before its clock
starts. Prints the time of each side and the ratio."""

import copy
import random
import time

import mongomock

import varnel_py

CITIES = ["paris", "lyon", "oslo", "rome", "kyiv", "lima", "quito", "dakar"]


def make_docs(n, seed, start=0):
    rng = random.Random(seed)
    return [{
        "_id": start + i,
        "active": rng.random() < 0.5,
        "address": {"city": rng.choice(CITIES), "zip": f"{rng.randint(1000, 9999)}"},
        "age": rng.randint(18, 80),
        "email": f"user{start + i}@example.test",
        "name": f"user {start + i}",
        "score": round(rng.random() * 100, 3),
        "tags": rng.sample(["a", "b", "c", "d", "e"], 2),
    } for i in range(n)]


def best(fn, runs):
    times = []
    for _ in range(runs):
        t = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t)
    return min(times)


def fresh(db_name, collections):
    db = mongomock.MongoClient()[db_name]
    for name, docs in collections.items():
        db[name].insert_many(copy.deepcopy(docs))
    return db


def report(name, ours, theirs):
    print(f"{name:34} local_eval {ours * 1000:9.1f} ms   mongomock {theirs * 1000:9.1f} ms   "
          f"ratio {theirs / ours:6.1f}x")
    return theirs / ours


def main():
    reg = varnel_py.Registry()
    users = make_docs(50_000, 1)
    colls = {"users": users}
    db = fresh("b", colls)
    ratios = {}

    match = {"age": {"$gte": 30}, "address.city": {"$in": ["oslo", "lima"]}, "active": True}
    find_cmd = {"kind": "aggregate", "collection": "users",
                "pipeline": [{"$match": match}, {"$sort": {"score": -1}}, {"$limit": 20}]}
    ours_result = reg.local_eval(colls, find_cmd)["result"]
    theirs_result = list(db.users.find(match).sort("score", -1).limit(20))
    assert ours_result == theirs_result
    ratios["find"] = report("find + sort + limit (50 000)", best(lambda: reg.local_eval(colls, find_cmd), 5),
                            best(lambda: list(db.users.find(match).sort("score", -1).limit(20)), 3))

    group_pipeline = [{"$match": {"age": {"$gte": 30}}},
                      {"$group": {"_id": "$address.city", "n": {"$sum": 1}, "avg": {"$avg": "$score"},
                                  "top": {"$max": "$score"}}},
                      {"$sort": {"_id": 1}}]
    group_cmd = {"kind": "aggregate", "collection": "users", "pipeline": group_pipeline}
    assert reg.local_eval(colls, group_cmd)["result"] == list(db.users.aggregate(group_pipeline))
    ratios["group"] = report("match + group + sort (50 000)", best(lambda: reg.local_eval(colls, group_cmd), 5),
                             best(lambda: list(db.users.aggregate(group_pipeline)), 1))

    small = {"users": users[:10_000]}
    update = {"$inc": {"age": 1}, "$set": {"address.zip": "0000", "seen": True}}
    update_cmd = {"kind": "updateMany", "collection": "users", "filter": {"active": True}, "update": update}
    dbs = [fresh(f"u{i}", small) for i in range(3)]
    ours_env = reg.local_eval(small, update_cmd)
    assert ours_env["result"]["modifiedCount"] == dbs[0].users.update_many({"active": True}, update).modified_count
    dbs = iter([fresh(f"v{i}", small) for i in range(3)])
    ratios["update"] = report("updateMany (10 000)", best(lambda: reg.local_eval(small, update_cmd), 5),
                              best(lambda: next(dbs).users.update_many({"active": True}, update), 3))

    authors = make_docs(5_000, 2)
    rng = random.Random(3)
    posts = [{"_id": 100_000 + i, "authorId": rng.randrange(5_000), "likes": rng.randint(0, 50)}
             for i in range(5_000)]
    joined = {"authors": authors, "posts": posts}
    jdb = fresh("j", joined)
    lookup = [{"$lookup": {"from": "posts", "localField": "_id", "foreignField": "authorId", "as": "posts"}},
              {"$project": {"name": 1, "posts": 1}}]
    lookup_cmd = {"kind": "aggregate", "collection": "authors", "pipeline": lookup}
    assert reg.local_eval(joined, lookup_cmd)["result"] == list(jdb.authors.aggregate(lookup))
    ratios["lookup"] = report("$lookup (5 000 x 5 000)", best(lambda: reg.local_eval(joined, lookup_cmd), 5),
                              best(lambda: list(jdb.authors.aggregate(lookup)), 1))

    short = [name for name, ratio in ratios.items() if ratio < 10]
    print("all ratios at least 10x" if not short else f"below 10x: {', '.join(short)}")


if __name__ == "__main__":
    main()
