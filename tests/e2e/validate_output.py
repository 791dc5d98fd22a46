#!/usr/bin/python3
"""Checks one document printed by nimbrel-top --json.

    validate_output.py [--schema SCHEMA] [FILE...]

reads each FILE (standard input without one) and checks, in this order:
  - that it is strict JSON: no NaN or Infinity, no key given twice;
  - that it validates against the output schema;
  - what the schema cannot see: floats written as floats and integers as
    integers (JSON Schema takes 1.0 for an integer), keys in byte order, a
    name on every reseller entry that has a uid;
  - the layout: the text is exactly what the document renders to (two-space
    indent, shortest round-trip floats, the escapes, one final line feed).
Prints every fault on standard error, led by the file's name, and exits 1;
exits 0 when every document is clean.

Run it with Debian's /usr/bin/python3, which has python3-jsonschema.
"""

import argparse
import decimal
import json
import math
import os
import sys

DEFAULT_SCHEMA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "schema",
                              "output.schema.json")

FIGURES = ("ep", "iops", "mem", "pno")


class Invalid(Exception):
    pass


def _reject_constant(name):
    raise Invalid(f"{name} is not JSON")


def _pairs(pairs):
    obj = {}
    for key, value in pairs:
        if key in obj:
            raise Invalid(f"key {key!r} given twice")
        obj[key] = value
    return obj


def parse(text):
    """The document, or Invalid: stricter than json.loads about what is JSON."""
    try:
        return json.loads(text, object_pairs_hook=_pairs, parse_constant=_reject_constant)
    except json.JSONDecodeError as e:
        raise Invalid(f"not a JSON document: {e}") from None


# Layout ---------------------------------------------------------------------

_ESCAPES = {'"': '\\"', "\\": "\\\\", "\b": "\\b", "\f": "\\f", "\n": "\\n", "\r": "\\r", "\t": "\\t"}


def _string(s):
    out = ['"']
    for ch in s:
        if ch in _ESCAPES:
            out.append(_ESCAPES[ch])
        elif ch < " ":
            out.append(f"\\u{ord(ch):04x}")
        else:
            out.append(ch)
    out.append('"')
    return "".join(out)


def render_float(x):
    """Shortest round-trip digits, plain between 1e-5 and 1e16, else d.ddde±N."""
    if not math.isfinite(x):
        raise Invalid(f"non-finite number {x}")
    # repr gives the shortest digits that read back as x; only the form differs.
    sign, digits, exp = decimal.Decimal(repr(x)).as_tuple()
    digits = "".join(map(str, digits)).lstrip("0") or "0"
    if digits == "0":
        return "-0.0" if sign else "0.0"
    # Trailing zeros carry no information: fold them into the exponent.
    stripped = digits.rstrip("0")
    exp += len(digits) - len(stripped)
    digits = stripped
    minus = "-" if sign else ""
    if 1e-5 <= abs(x) < 1e16:
        point = len(digits) + exp  # digits before the decimal point
        if exp >= 0:
            return f"{minus}{digits}{'0' * exp}.0"
        if point > 0:
            return f"{minus}{digits[:point]}.{digits[point:]}"
        return f"{minus}0.{'0' * -point}{digits}"
    sci = exp + len(digits) - 1
    mantissa = digits[0] + ("." + digits[1:] if len(digits) > 1 else "")
    return f"{minus}{mantissa}e{sci}"


def render(value, indent=0):
    """The text nimbrel-top writes for `value`, without the final line feed."""
    if value is None:
        return "null"
    if value is True:
        return "true"
    if value is False:
        return "false"
    if isinstance(value, int):
        return str(value)
    if isinstance(value, float):
        return render_float(value)
    if isinstance(value, str):
        return _string(value)
    pad = "  " * (indent + 1)
    if isinstance(value, list):
        if not value:
            return "[]"
        items = [pad + render(v, indent + 1) for v in value]
        return "[\n" + ",\n".join(items) + "\n" + "  " * indent + "]"
    if not value:
        return "{}"
    items = [f"{pad}{_string(k)}: {render(v, indent + 1)}" for k, v in value.items()]
    return "{\n" + ",\n".join(items) + "\n" + "  " * indent + "}"


def layout_faults(text, doc):
    expected = render(doc) + "\n"
    if text == expected:
        return []
    got_lines, want_lines = text.split("\n"), expected.split("\n")
    for n, (got, want) in enumerate(zip(got_lines, want_lines), 1):
        if got != want:
            return [f"layout: line {n} is {got!r}, expected {want!r}"]
    return [f"layout: {len(got_lines) - 1} lines, expected {len(want_lines) - 1} (one final line feed)"]


# What the schema cannot see ---------------------------------------------------

def _kind(faults, where, container, key, kind):
    """A float member must be written with a point or an exponent, an integer without."""
    if not isinstance(container, dict) or key not in container:
        return  # a missing member is the schema's to report
    value = container[key]
    if (value is None and kind is float) or isinstance(value, bool) or not isinstance(value, (int, float)):
        return
    if type(value) is not kind:
        written = "a float" if isinstance(value, float) else "an integer"
        expected = "a float" if kind is float else "an integer"
        faults.append(f"{where}/{key}: {json.dumps(value)} is written as {written}, expected {expected}")


def _key_order(faults, where, value):
    if isinstance(value, dict):
        keys = list(value)
        encoded = [k.encode("utf-8", "surrogatepass") for k in keys]
        if encoded != sorted(encoded):
            faults.append(f"{where or '/'}: keys {keys} are not in byte order")
        for k, v in value.items():
            _key_order(faults, f"{where}/{k}", v)
    elif isinstance(value, list):
        for i, v in enumerate(value):
            _key_order(faults, f"{where}/{i}", v)


def kind_faults(doc):
    faults = []
    _key_order(faults, "", doc)
    _kind(faults, "", doc, "timestamp", float)
    users = doc.get("users")
    for i, row in enumerate(users if isinstance(users, list) else []):
        _kind(faults, f"/users/{i}", row, "id", int)
        if isinstance(row, dict):
            _kind(faults, f"/users/{i}/restriction", row.get("restriction"), "time", int)
            for part in ("usage", "limit"):
                figures = row.get(part)
                for name in FIGURES:
                    _kind(faults, f"/users/{i}/{part}", figures, name, float)
                for name in ("cpu", "io"):
                    pair = figures.get(name) if isinstance(figures, dict) else None
                    _kind(faults, f"/users/{i}/{part}/{name}", pair, "all", float)
    resellers = doc.get("resellers")
    for i, entry in enumerate(resellers if isinstance(resellers, list) else []):
        # An entry with a uid gets the login name of that uid, or "N/A".
        if isinstance(entry, dict) and type(entry.get("id")) is int and entry["id"] >= 0:
            if not isinstance(entry.get("name"), str):
                faults.append(f"/resellers/{i}: an entry with \"id\" {entry['id']} has no string \"name\"")
    return faults


# Schema ---------------------------------------------------------------------

def load_validator(schema_path):
    try:
        import jsonschema
    except ImportError:
        raise Invalid("python3-jsonschema is missing (scripts/setup installs it)") from None
    with open(schema_path, encoding="utf-8") as f:
        schema = json.load(f)
    return jsonschema.Draft202012Validator(schema)


def schema_faults(validator, doc):
    errors = list(validator.iter_errors(doc))
    if not errors:
        return []
    faults = []
    for error in errors:
        if error.validator == "oneOf" and not error.absolute_path:
            faults.extend(_branch_faults(validator, error, doc))
        else:
            faults.append(f"schema: /{'/'.join(map(str, error.absolute_path))}: {error.message}")
    return faults


def _branch_faults(validator, error, doc):
    """The faults against the branch the document's "result" picks."""
    defs = validator.schema["$defs"]
    result = doc.get("result") if isinstance(doc, dict) else None
    if result == "success":
        branch = "report"
    elif isinstance(result, str) and result.startswith("Permission denied. Reseller"):
        branch = "resellerDenial"
    elif isinstance(result, str) and result.startswith("Permission denied."):
        branch = "namespaceDenial"
    elif isinstance(result, str) and result.startswith("Kestrix"):
        branch = "daemonStatus"
    else:
        return [f"schema: {error.message.splitlines()[0]} (no document has \"result\" {json.dumps(result)})"]
    sub = validator.evolve(schema={**defs[branch], "$defs": defs})
    faults = [f"schema ({branch}): /{'/'.join(map(str, e.absolute_path))}: {e.message}"
              for e in sub.iter_errors(doc)]
    return faults or [f"schema: {error.message.splitlines()[0]}"]


def check(text, validator):
    """Every fault of the document `text`; empty when it is sound."""
    try:
        doc = parse(text)
    except Invalid as e:
        return [str(e)]
    faults = schema_faults(validator, doc)
    if isinstance(doc, dict):
        faults += kind_faults(doc)
    try:
        faults += layout_faults(text, doc)
    except Invalid as e:
        faults.append(f"layout: {e}")
    return faults


def main(argv):
    ap = argparse.ArgumentParser(description="Checks documents printed by nimbrel-top --json.")
    ap.add_argument("--schema", default=DEFAULT_SCHEMA)
    ap.add_argument("files", nargs="*")
    args = ap.parse_args(argv)
    try:
        validator = load_validator(args.schema)
    except (Invalid, OSError, ValueError) as e:
        print(f"validate_output: {e}", file=sys.stderr)
        return 2
    failed = False
    for name in args.files or ["-"]:
        try:
            if name == "-":
                raw = sys.stdin.buffer.read()
            else:
                with open(name, "rb") as f:
                    raw = f.read()
            faults = check(raw.decode("utf-8"), validator)
        except (OSError, UnicodeDecodeError) as e:
            faults = [str(e)]
        for fault in faults:
            print(f"{name if name != '-' else '<stdin>'}: {fault}", file=sys.stderr)
        failed = failed or bool(faults)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
