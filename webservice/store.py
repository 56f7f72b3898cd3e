"""SQLite storage of the stand-in: every call it received and the budget-state changes queued
for `download`. One connection shared by all request threads behind a lock; WAL without an
fsync per call keeps thousands of calls a second cheap."""

import datetime
import sqlite3
import threading
import time

_SCHEMA = """
CREATE TABLE IF NOT EXISTS calls (
    id            INTEGER PRIMARY KEY,
    page          TEXT NOT NULL,
    soapaction    TEXT,
    content_type  TEXT,
    idcompra      INTEGER,
    readfilexmls  TEXT,
    time          TEXT NOT NULL,
    accepted      INTEGER NOT NULL,
    failure       TEXT,
    fault         TEXT,
    reply         TEXT,
    received_at   REAL
);
CREATE TABLE IF NOT EXISTS queue (
    id         INTEGER PRIMARY KEY,
    idcompra   INTEGER NOT NULL,
    kind       TEXT NOT NULL CHECK (kind IN ('pair', 'error', 'raw')),
    orden      TEXT,
    estado     TEXT,
    text       TEXT,
    queued     TEXT NOT NULL,
    delivered  TEXT
);
CREATE INDEX IF NOT EXISTS queue_pending ON queue (idcompra, delivered);
"""

_CALL_FIELDS = ("id", "page", "soapaction", "content_type", "idcompra", "readfilexmls", "time",
                "accepted", "failure", "fault", "reply", "received_at")
_QUEUE_FIELDS = ("id", "idcompra", "kind", "orden", "estado", "text", "queued", "delivered")


def now():
    return datetime.datetime.now().astimezone().isoformat(timespec="milliseconds")


def reply_item(item):
    """The text one queued item contributes to a `download` reply."""
    if item["kind"] == "pair":
        return "<Orden>%s</Orden><Estado>%s</Estado>" % (item["orden"], item["estado"])
    if item["kind"] == "error":
        return "<Error>%s</Error>" % item["text"]
    return item["text"]


class Store:
    def __init__(self, path):
        self._lock = threading.Lock()
        self._db = sqlite3.connect(path, check_same_thread=False, isolation_level=None)
        self._db.execute("PRAGMA journal_mode=WAL")
        self._db.execute("PRAGMA synchronous=NORMAL")
        self._db.executescript(_SCHEMA)
        # Databases made before calls carried their arrival time get the column, empty.
        columns = {row[1] for row in self._db.execute("PRAGMA table_info(calls)")}
        if "received_at" not in columns:
            self._db.execute("ALTER TABLE calls ADD COLUMN received_at REAL")

    def close(self):
        with self._lock:
            self._db.close()

    def add_call(self, page, soapaction, content_type, idcompra, readfilexmls, accepted,
                 failure=None, fault=None, reply=None, received_at=None):
        """`received_at`: seconds since the epoch at which the request had fully arrived
        (now when not given)."""
        if received_at is None:
            received_at = time.time()
        with self._lock:
            cur = self._db.execute(
                "INSERT INTO calls (page, soapaction, content_type, idcompra, readfilexmls, time,"
                " accepted, failure, fault, reply, received_at) VALUES (?,?,?,?,?,?,?,?,?,?,?)",
                (page, soapaction, content_type, idcompra, readfilexmls, now(), int(accepted),
                 failure, fault, reply, received_at))
            return cur.lastrowid

    def calls(self, page=None, idcompra=None, since=None, newest_first=False, limit=None):
        where, args = [], []
        if page is not None:
            where.append("page = ?")
            args.append(page)
        if idcompra is not None:
            where.append("idcompra = ?")
            args.append(idcompra)
        if since is not None:
            where.append("id > ?")
            args.append(since)
        sql = "SELECT %s FROM calls" % ", ".join(_CALL_FIELDS)
        if where:
            sql += " WHERE " + " AND ".join(where)
        sql += " ORDER BY id DESC" if newest_first else " ORDER BY id"
        if limit is not None:
            sql += " LIMIT %d" % int(limit)
        with self._lock:
            rows = self._db.execute(sql, args).fetchall()
        calls = [dict(zip(_CALL_FIELDS, row)) for row in rows]
        for call in calls:
            call["accepted"] = bool(call["accepted"])
        return calls

    def enqueue(self, idcompra, kind, orden=None, estado=None, text=None):
        with self._lock:
            cur = self._db.execute(
                "INSERT INTO queue (idcompra, kind, orden, estado, text, queued)"
                " VALUES (?,?,?,?,?,?)", (idcompra, kind, orden, estado, text, now()))
            row = self._db.execute("SELECT %s FROM queue WHERE id = ?" % ", ".join(_QUEUE_FIELDS),
                                   (cur.lastrowid,)).fetchone()
        return dict(zip(_QUEUE_FIELDS, row))

    def queued(self, include_delivered=False):
        sql = "SELECT %s FROM queue" % ", ".join(_QUEUE_FIELDS)
        if not include_delivered:
            sql += " WHERE delivered IS NULL"
        with self._lock:
            rows = self._db.execute(sql + " ORDER BY id").fetchall()
        return [dict(zip(_QUEUE_FIELDS, row)) for row in rows]

    def take_reply(self, idcompra):
        """Builds the `download` reply for an account and marks what it carries as delivered.

        A pending error entry is answered alone, as "<Error>text</Error>", and leaves the
        account's other entries pending: a service that reports an error has delivered nothing.
        Otherwise the reply is every pending pair and raw text in queue order; nothing pending
        gives the empty text."""
        with self._lock:
            self._db.execute("BEGIN IMMEDIATE")
            try:
                rows = self._db.execute(
                    "SELECT %s FROM queue WHERE idcompra = ? AND delivered IS NULL ORDER BY id"
                    % ", ".join(_QUEUE_FIELDS), (idcompra,)).fetchall()
                items = [dict(zip(_QUEUE_FIELDS, row)) for row in rows]
                errors = [item for item in items if item["kind"] == "error"]
                if errors:
                    items = errors[:1]
                stamp = now()
                self._db.executemany("UPDATE queue SET delivered = ? WHERE id = ?",
                                     [(stamp, item["id"]) for item in items])
                self._db.execute("COMMIT")
            except BaseException:
                self._db.execute("ROLLBACK")
                raise
        return "".join(reply_item(item) for item in items)

    def reset(self):
        with self._lock:
            self._db.execute("BEGIN IMMEDIATE")
            self._db.execute("DELETE FROM calls")
            self._db.execute("DELETE FROM queue")
            self._db.execute("COMMIT")
