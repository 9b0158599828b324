#!/usr/bin/env bash
# Installs what is missing, builds, and runs the client.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
if [ ! -x build/dravlen-client ]; then
  echo "The client is not built yet: only the core libraries and tests exist."
  exit 0
fi
exec build/dravlen-client
