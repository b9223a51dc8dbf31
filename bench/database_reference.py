"""Python's counterpart of bench/database_bench.cpp: a 200 KB value stored into a row
and loaded from it with sqlite3 (a file in write-ahead-log mode, as ours) and with
psycopg2 (on the server named by VELLUM_BENCH_POSTGRES), in the same run."""
import os
import random
import sqlite3
import tempfile

from pillow_timing import measure

IMAGE = random.Random(20).randbytes(200 * 1024)


def sqlite_connection():
    path = os.path.join(tempfile.gettempdir(), "vellum-bench-reference-%d.db" % os.getpid())
    for suffix in ("", "-wal", "-shm"):
        if os.path.exists(path + suffix):
            os.remove(path + suffix)
    connection = sqlite3.connect(path, isolation_level=None)
    connection.execute("PRAGMA journal_mode = WAL")
    connection.execute("CREATE TABLE photos (id INTEGER PRIMARY KEY, photo BLOB)")
    return connection, "?"


def postgres_connection():
    import psycopg2

    connection = psycopg2.connect(os.environ["VELLUM_BENCH_POSTGRES"])
    connection.autocommit = True
    cursor = connection.cursor()
    cursor.execute("DROP TABLE IF EXISTS photos")
    cursor.execute("CREATE TABLE photos (id SERIAL PRIMARY KEY, photo BYTEA)")
    return connection, "%s"


def run(engine, connect):
    connection, mark = connect()
    cursor = connection.cursor()

    def store():
        cursor.execute("INSERT INTO photos (photo) VALUES (%s) RETURNING id" % mark, (IMAGE,))
        return cursor.fetchone()[0]

    def load(row):
        cursor.execute("SELECT photo FROM photos WHERE id = %s" % mark, (row,))
        assert len(bytes(cursor.fetchone()[0])) == len(IMAGE)

    stored = store()
    measure("%s store+load" % engine, "BM_StoreAndLoad/%s" % engine, lambda: load(store()))
    measure("%s store" % engine, "BM_Store/%s" % engine, store)
    measure("%s load" % engine, "BM_Load/%s" % engine, lambda: load(stored))
    connection.close()


def main():
    run("SQLite", sqlite_connection)
    if os.environ.get("VELLUM_BENCH_POSTGRES"):
        run("PostgreSQL", postgres_connection)


if __name__ == "__main__":
    main()
