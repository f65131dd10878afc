#!/usr/bin/env python3
"""Validates hostprobe --report --json against docs/hostprobe-report.schema.json:
every fixture's report, plain and redacted, and the live machine's. Also checks
that the documents are strict JSON and that every one has the same keys.

Usage: report_schema_test.py HOSTPROBE SCHEMA FIXTURES_DIR
Exit 77 (skipped) when python3-jsonschema is not installed."""
import glob
import json
import os
import subprocess
import sys
import tempfile

try:
    import jsonschema
except ImportError:
    print("SKIPPED: python3-jsonschema is not installed (tools/deps.sh installs it)")
    sys.exit(77)

hostprobe, schema_path, fixtures = map(os.path.abspath, sys.argv[1:4])
schema = json.load(open(schema_path, encoding="utf-8"))
validator_class = jsonschema.validators.validator_for(schema)
validator_class.check_schema(schema)
validator = validator_class(schema)


def reject(constant):
    raise ValueError("not JSON: " + constant)


def keys(value, path=""):
    """Every key path of a document, list items folded into one."""
    out = set()
    if isinstance(value, dict):
        for k, v in value.items():
            if path.endswith(".errors"):
                continue  # property names of failing reads
            out.add(path + "." + k)
            out |= keys(v, path + "." + k)
    elif isinstance(value, list):
        for v in value:
            out |= keys(v, path + "[]")
    return out


failures = 0
top_keys = None
runs = [(f, extra) for f in sorted(glob.glob(os.path.join(fixtures, "*.json")))
        for extra in ([], ["--redact"])]
runs += [(None, []), (None, ["--redact"])]
with tempfile.TemporaryDirectory() as work:
    for fixture, extra in runs:
        args = [hostprobe] + (["--replay", fixture] if fixture else []) + ["--report", "--json"] + extra
        name = " ".join([os.path.basename(fixture) if fixture else "live"] + extra)
        run = subprocess.run(args, cwd=work, capture_output=True, timeout=120)
        if run.returncode != 0:
            print(f"FAIL {name}: exit {run.returncode}: {run.stderr.decode(errors='replace')}")
            failures += 1
            continue
        try:
            doc = json.loads(run.stdout.decode("utf-8"), parse_constant=reject)
        except ValueError as e:
            print(f"FAIL {name}: {e}")
            failures += 1
            continue
        errors = sorted(validator.iter_errors(doc), key=lambda e: list(e.path))
        for e in errors:
            print(f"FAIL {name}: {'/'.join(map(str, e.path))}: {e.message}")
        failures += bool(errors)
        if top_keys is None:
            top_keys = list(doc)
        elif list(doc) != top_keys:
            print(f"FAIL {name}: top-level keys {list(doc)} differ from {top_keys}")
            failures += 1
        if doc["redacted"] != bool(extra):
            print(f"FAIL {name}: redacted is {doc['redacted']}")
            failures += 1
        if os.path.exists(os.path.join(work, "TEST_OUT.TXT")):
            print(f"FAIL {name}: the report wrote TEST_OUT.TXT")
            failures += 1
        if not errors:
            print(f"ok   {name}")
sys.exit(1 if failures else 0)
