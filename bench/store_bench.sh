#!/usr/bin/env bash
# The calls database benchmark (store_bench) against an SQLite file and a PostgreSQL server of
# its own: fsync on as in use, with the memory settings of a small dedicated server
# (shared_buffers 1 GB, max_wal_size 4 GB). The server is stopped at the end, whatever happened.
#   bash bench/store_bench.sh [store_bench options: --calls N --files K --dir DIR --runs R --live N]
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORDEL_BUILD_BENCH=ON \
  -DKORDEL_BUILD_GUI=OFF -DKORDEL_BUILD_TESTS=OFF >/dev/null
cmake --build build-bench --target store_bench >/dev/null
echo "load before: $(uptime)"
pg=$(KORDEL_PG_FSYNC=on KORDEL_PG_OPTIONS="-c shared_buffers=1GB -c max_wal_size=4GB" \
  bash tests/support/pg_server.sh start)
trap 'bash tests/support/pg_server.sh stop "$pg"' EXIT
ci=$(bash tests/support/pg_server.sh conninfo "$pg")
psql "$ci" -qc "CREATE DATABASE kordel_bench"
build-bench/bench/store_bench --sqlite --pg "$ci dbname=kordel_bench" "$@"
echo "postgres size: $(psql "$ci dbname=kordel_bench" -Atc "SELECT pg_size_pretty(pg_database_size(current_database()))")"
echo "load after: $(uptime)"
