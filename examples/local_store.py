"""An in-memory store driven by local_eval: the Host keeps the collections,
runs each command against them and keeps what comes back."""

import json

import varnel_py


def main():
    reg = varnel_py.Registry()
    store = {}

    def run(command):
        env = reg.local_eval(store, command)
        for name in env["changed"]:  # write back what the command changed
            store[name] = env["collections"][name]
        return env["result"]

    print("insertMany ->", run({"kind": "insertMany", "collection": "books", "docs": [
        {"_id": 1, "title": "Dune", "year": 1965, "tags": ["sf", "classic"], "stock": 3},
        {"_id": 2, "title": "Neuromancer", "year": 1984, "tags": ["sf", "cyberpunk"], "stock": 0},
        {"_id": 3, "title": "Emma", "year": 1815, "tags": ["classic"], "stock": 5},
    ]}))
    print("insertMany ->", run({"kind": "insertMany", "collection": "reviews", "docs": [
        {"_id": 10, "bookId": 1, "stars": 5}, {"_id": 11, "bookId": 1, "stars": 4},
        {"_id": 12, "bookId": 3, "stars": 3},
    ]}))

    print("updateMany ->", run({"kind": "updateMany", "collection": "books",
                                "filter": {"tags": "classic"}, "update": {"$inc": {"stock": 1}}}))
    print("upsert     ->", run({"kind": "findOneAndUpdate", "collection": "books", "filter": {"_id": 4},
                                "update": {"$set": {"title": "Kindred", "year": 1979, "stock": 2}},
                                "options": {"upsert": True}}))

    print("\nin stock, newest first:")
    for doc in run({"kind": "aggregate", "collection": "books", "pipeline": [
            {"$match": {"stock": {"$gt": 0}}}, {"$sort": {"year": -1}},
            {"$project": {"_id": 0, "title": 1, "year": 1}}]}):
        print("  ", json.dumps(doc))

    print("\nbooks with their reviews:")
    for doc in run({"kind": "aggregate", "collection": "books", "pipeline": [
            {"$lookup": {"from": "reviews", "localField": "_id", "foreignField": "bookId", "as": "reviews"}},
            {"$project": {"title": 1, "reviews": {"$size": "$reviews"}, "stars": {"$avg": "$reviews.stars"}}}]}):
        print("  ", json.dumps(doc))

    print("\nstock per tag:")
    for doc in run({"kind": "aggregate", "collection": "books", "pipeline": [
            {"$unwind": {"path": "$tags"}},
            {"$group": {"_id": "$tags", "books": {"$sum": 1}, "stock": {"$sum": "$stock"}}},
            {"$sort": {"_id": 1}}]}):
        print("  ", json.dumps(doc))

    try:
        run({"kind": "updateMany", "collection": "books", "filter": {}, "update": {"$set": {"tags.0": "x"}}})
    except RuntimeError as e:
        print("\nrefused:", e)


if __name__ == "__main__":
    main()
