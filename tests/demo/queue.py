#!/usr/bin/python3
"""Prints the stand-in web service's download queue, delivered entries included, one entry a
line: idcompra, orden, estado and 1 or 0 for delivered, separated by tabs.

Usage: queue.py BASE_URL
"""
import json
import sys
import urllib.request

base = sys.argv[1]
with urllib.request.urlopen(base.rstrip("/") + "/_control/queue?all=1", timeout=10) as reply:
    entries = json.loads(reply.read().decode("utf-8"))
for entry in entries:
    if entry["kind"] != "pair":
        continue
    print("%s\t%s\t%s\t%d" % (entry["idcompra"], entry["orden"], entry["estado"],
                              1 if entry["delivered"] else 0))
