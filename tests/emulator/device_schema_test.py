#!/usr/bin/python3
"""The JSON Schema of device descriptions takes the demo and finds the faults
an editor should underline.  device_schema_test.py SCHEMA DEMO"""
import json
import sys

import jsonschema

BROKEN = [  # a description, and where its fault is
    ('{"objects": [{"type": "Scren"}]}', "$.objects[0].type"),
    ('{"objects": [{"type": "Button", "colour": 1}]}', "$.objects[0]"),
    ('{"objects": [{"type": "TextBox", "fontHeight": 70000}]}', "$.objects[0].fontHeight"),
    ('{"objects": [{"type": "Screen", "background": "#12"}]}', "$.objects[0].background"),
    ('{"objects": [{"type": "Menu", "items": [{"text": 1}]}]}', "$.objects[0].items[0]"),
    ('{"variables": [{"type": "DATE", "value": "2024-12-05"}], "objects": [{"type": "Screen"}]}',
     "$.variables[0].value"),
    ('{"objects": [{"type": "Screen"}], "reactions": [{"event": 1, "actions": [{"jump": 1}]}]}',
     "$.reactions[0].actions[0]"),
    ('{"objects": [{"type": "Screen"}], "timers": [{"periodMs": 1, "actions": []}]}', "$.timers[0].periodMs"),
    ('{"objects": [{"type": "Screen"}], "titel": "x"}', "$"),
]

with open(sys.argv[1], encoding="utf-8") as f:
    schema = json.load(f)
jsonschema.Draft202012Validator.check_schema(schema)
validator = jsonschema.Draft202012Validator(schema)
faults = []
with open(sys.argv[2], encoding="utf-8") as f:
    faults += [f"demo: {e.json_path}: {e.message}" for e in validator.iter_errors(json.load(f))]
for text, where in BROKEN:
    found = [e.json_path for e in validator.iter_errors(json.loads(text))]
    if where not in found:
        faults.append(f"{text}: wanted a fault at {where}, found {found}")
for fault in faults:
    print(fault)
print(f"{len(BROKEN) + 1 - len(faults)} passed, {len(faults)} failed")
sys.exit(1 if faults else 0)
