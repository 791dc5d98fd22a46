#!/usr/bin/python3
"""The report done the straightforward way, as a yardstick for the whole run:
read the snapshot, sort the rows by CPU usage highest first (ties keep file
order), keep the first 25, fill empty names, print with sorted keys."""
import json
import sys
import time

MAX_ROWS = 25
UNKNOWN = "N/A"


def main(path):
    with open(path, "rb") as f:
        snapshot = json.load(f)
    rows = snapshot.get("users", [])
    # sorted() is stable, so rows of equal usage stay in file order.
    rows = sorted(rows, key=lambda r: r["usage"]["cpu"]["all"], reverse=True)[:MAX_ROWS]
    for row in rows:
        for key in ("username", "domain", "reseller"):
            if not row.get(key):
                row[key] = UNKNOWN
    report = {
        "mySqlWard": "enabled",
        "mySqlWardMode": "all",
        "resellers": snapshot.get("resellers", []),
        "result": "success",
        "timestamp": snapshot.get("timestamp", time.time()),
        "users": rows,
    }
    sys.stdout.write(json.dumps(report, indent=2, sort_keys=True) + "\n")


if __name__ == "__main__":
    main(sys.argv[1])
