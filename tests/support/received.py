#!/usr/bin/env python3
"""Writes the calls the stand-in web service received as files the C++ tests read easily.

Usage: received.py BASE_URL OUT_DIR. For the N-th call: N.page, N.soapaction, N.idcompra,
N.accepted ("1" or "0") and N.readfilexmls (UTF-8, empty for download).
"""
import json
import os
import sys
import urllib.request

base, out = sys.argv[1], sys.argv[2]
with urllib.request.urlopen(base.rstrip("/") + "/_control/received", timeout=10) as reply:
    calls = json.loads(reply.read().decode("utf-8"))
for number, call in enumerate(calls, 1):
    fields = {
        "page": call["page"],
        "soapaction": call["soapaction"] or "",
        "idcompra": "" if call["idcompra"] is None else str(call["idcompra"]),
        "accepted": "1" if call["accepted"] else "0",
        "readfilexmls": call["readfilexmls"] or "",
    }
    for name, value in fields.items():
        with open(os.path.join(out, f"{number}.{name}"), "w", encoding="utf-8", newline="") as f:
            f.write(value)
print(len(calls))
