#!/usr/bin/python3
"""validate_output.py accepts every kind of document nimbrel-top prints and
rejects each way a document can break the contract.

    validate_output_test.py [--schema SCHEMA] [unittest options]
"""

import copy
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import validate_output as vo  # noqa: E402

SCHEMA = vo.DEFAULT_SCHEMA


def figures(cpu_mysql=0.0, io_mysql=0.0):
    return {
        "cpu": {"all": 12.5, "mysql": cpu_mysql},
        "ep": 3.0,
        "io": {"all": 1048576.0, "mysql": io_mysql},
        "iops": 1.5e-7,
        "mem": 1e16,
        "pno": None,
    }


def report():
    """A report with every optional member that can appear together."""
    return {
        "context": {"output": "socket closed"},
        "mySqlWard": "error",
        "mySqlWardMode": "all",
        "resellers": [{"id": 1000000500, "name": "N/A"}, "legacy", {"id": -1}, 7],
        "result": "success",
        "timestamp": 1700000000.5,
        "users": [
            {
                "domain": "N/A",
                "id": 4294967295,
                "limit": figures("-", "-"),
                "reseller": "rita",
                "restricted": True,
                "restriction": {"reason": "Violated the io limit", "time": -9223372036854775808},
                "usage": figures(10.0, {"kept": [1, "as", None]}),
                "username": "alice \"a\"\n\u00e9",
            },
            {
                "domain": "",
                "id": 0,
                "limit": figures(),
                "reseller": "",
                "restricted": False,
                "usage": {**figures(), "cpu": {"all": -0.0}, "io": {"all": None}},
                "username": "",
            },
        ],
        "warning": "dbadm error: %(output)s",
    }


def denial(message):
    return {"context": {}, "result": message, "timestamp": 1700000000.0}


SOUND = {
    "full report": report(),
    "plain report": {"mySqlWard": "enabled", "mySqlWardMode": "none", "resellers": [], "result": "success",
                     "timestamp": None, "users": []},
    "error without context": {"mySqlWard": "error", "mySqlWardMode": "", "resellers": [], "result": "success",
                              "timestamp": 0.0, "users": [], "warning": "Permission denied (os error 13)"},
    "namespace denial": denial("Permission denied. Caller identity cannot be verified outside the initial "
                               "user namespace."),
    "reseller denial": denial("Permission denied. Reseller can view information only about himself. "
                              "Option --for-reseller=\nx y is forbidden."),
    "daemon stopped": {"result": "Kestrix is stopped", "timestamp": 1700000000.0},
    "daemon dead": {"result": "Kestrix is dead but subsys locked", "timestamp": 0.0},
}


def text(doc):
    return vo.render(doc) + "\n"


def row(doc):
    return doc["users"][0]


def mutated(change, base=None):
    doc = copy.deepcopy(base if base is not None else report())
    change(doc)
    return doc


# Each breaks the contract in one way; the word must appear in the faults.
MUTATIONS = {
    # required members
    "report without users": (lambda d: d.pop("users"), "users"),
    "row without id": (lambda d: row(d).pop("id"), "id"),
    "figures without pno": (lambda d: row(d)["usage"].pop("pno"), "pno"),
    "cpu without all": (lambda d: row(d)["limit"]["cpu"].pop("all"), "all"),
    "restriction without time": (lambda d: row(d)["restriction"].pop("time"), "time"),
    # closed objects
    "unknown top-level member": (lambda d: d.update(users_total=2), "users_total"),
    "unknown row member": (lambda d: row(d).update(email="a@b"), "email"),
    "unknown figure": (lambda d: row(d)["usage"].update(swap=0.0), "swap"),
    "unknown resource member": (lambda d: row(d)["usage"]["io"].update(db=1.0), "db"),
    "unknown restriction member": (lambda d: row(d)["restriction"].update(until=5), "until"),
    # types and ranges
    "id as a string": (lambda d: row(d).update(id="1001"), "id"),
    "id below range": (lambda d: row(d).update(id=-1), "minimum"),
    "id above range": (lambda d: row(d).update(id=4294967296), "maximum"),
    "time above range": (lambda d: row(d)["restriction"].update(time=2**63), "maximum"),
    "time below range": (lambda d: row(d)["restriction"].update(time=-2**63 - 1), "minimum"),
    "figure as a string": (lambda d: row(d)["limit"].update(mem="1G"), "mem"),
    "restricted as a number": (lambda d: row(d).update(restricted=1), "restricted"),
    "unknown warden state": (lambda d: d.update(mySqlWard="Enabled"), "mySqlWard"),
    "result other than success": (lambda d: d.update(result="ok"), "result"),
    "null mysql": (lambda d: row(d)["usage"]["cpu"].update(mysql=None), "mysql"),
    "context values not strings": (lambda d: d.update(context={"output": 5}), "context"),
    # members bound to the warden state
    "warning while enabled": (lambda d: (d.update(mySqlWard="enabled"), d.pop("context")), "error"),
    "context while disabled": (lambda d: (d.update(mySqlWard="disabled"), d.pop("warning")), "error"),
    # number kinds the schema cannot see
    "id written as a float": (lambda d: row(d).update(id=1001.0), "an integer"),
    "time written as a float": (lambda d: row(d)["restriction"].update(time=5.0), "an integer"),
    "figure written as an integer": (lambda d: row(d)["usage"].update(ep=3), "a float"),
    "total written as an integer": (lambda d: row(d)["limit"]["io"].update(all=1048576), "a float"),
    "timestamp written as an integer": (lambda d: d.update(timestamp=1700000000), "a float"),
    # reseller entries
    "reseller uid without a name": (lambda d: d["resellers"][0].pop("name"), "name"),
}

DOCUMENT_MUTATIONS = {
    "denial with a context value": (denial("Permission denied. Caller identity cannot be verified outside the "
                                           "initial user namespace."), lambda d: d.update(context={"a": "b"})),
    "denial without context": (SOUND["reseller denial"], lambda d: d.pop("context")),
    "denial of another text": (SOUND["reseller denial"], lambda d: d.update(result="Permission denied.")),
    "denial at a fraction of a second": (SOUND["namespace denial"], lambda d: d.update(timestamp=1.5)),
    "daemon document with a context": (SOUND["daemon stopped"], lambda d: d.update(context={})),
    "daemon document of another text": (SOUND["daemon stopped"], lambda d: d.update(result="Kestrix is running")),
    "daemon document without timestamp": (SOUND["daemon dead"], lambda d: d.pop("timestamp")),
}


class Checker(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.validator = vo.load_validator(SCHEMA)

    def faults(self, text_):
        return vo.check(text_, self.validator)

    def test_schema_is_a_valid_draft_2020_12_schema(self):
        import jsonschema
        jsonschema.Draft202012Validator.check_schema(self.validator.schema)
        self.assertEqual(self.validator.schema["$schema"], "https://json-schema.org/draft/2020-12/schema")

    def test_sound_documents_pass(self):
        for name, doc in SOUND.items():
            with self.subTest(name):
                self.assertEqual(self.faults(text(doc)), [])

    def test_each_mutation_of_the_report_is_rejected(self):
        for name, (change, word) in MUTATIONS.items():
            with self.subTest(name):
                faults = self.faults(text(mutated(change)))
                self.assertTrue(faults, "accepted")
                self.assertIn(word, "\n".join(faults))

    def test_each_mutation_of_the_short_documents_is_rejected(self):
        for name, (base, change) in DOCUMENT_MUTATIONS.items():
            with self.subTest(name):
                self.assertTrue(self.faults(text(mutated(change, base))), "accepted")

    def test_text_that_is_not_the_printed_form_is_rejected(self):
        good = text(SOUND["daemon stopped"])
        cases = {
            "keys out of order": good.replace('"result": "Kestrix is stopped",\n  "timestamp": 1700000000.0',
                                              '"timestamp": 1700000000.0,\n  "result": "Kestrix is stopped"'),
            "a key twice": good.replace('\n}', ',\n  "timestamp": 1.0\n}'),
            "NaN": good.replace("1700000000.0", "NaN"),
            "exponent with a plus": good.replace("1700000000.0", "1.7e+9"),
            "no final line feed": good.rstrip("\n"),
            "two final line feeds": good + "\n",
            "tab indent": good.replace("  ", "\t"),
            "escaped non-ASCII": text(report()).replace("\u00e9", "\\u00e9"),
            "truncated": good[:-3],
        }
        for name, bad in cases.items():
            with self.subTest(name):
                self.assertTrue(self.faults(bad), "accepted")

    def test_floats_take_their_printed_form(self):
        cases = [(0.0, "0.0"), (-0.0, "-0.0"), (12.0, "12.0"), (12.5, "12.5"), (1e16, "1e16"),
                 (1.5e-7, "1.5e-7"), (1e-5, "0.00001"), (9.5e-6, "9.5e-6"), (123456.789, "123456.789"),
                 (9999999999999998.0, "9999999999999998.0"), (2.5e300, "2.5e300"), (5e-324, "5e-324")]
        for value, form in cases:
            with self.subTest(form):
                self.assertEqual(vo.render_float(value), form)


if __name__ == "__main__":
    if len(sys.argv) > 2 and sys.argv[1] == "--schema":
        SCHEMA = sys.argv[2]
        del sys.argv[1:3]
    unittest.main()
