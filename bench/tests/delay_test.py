#!/usr/bin/python3
"""The harness's mode with slow helpers: the chain it reads from the
stand-ins' times, the comparison with instant helpers, and (as root, in the
sandbox) the delayed stand-in and a whole round on programs whose calls and
documents are known."""
import importlib.machinery
import importlib.util
import os
import shutil
import subprocess
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
loader = importlib.machinery.SourceFileLoader("bench_run", os.path.join(HERE, "..", "run"))
module_spec = importlib.util.spec_from_loader("bench_run", loader)
bench_run = importlib.util.module_from_spec(module_spec)
loader.exec_module(bench_run)


class Chain(unittest.TestCase):
    def test_counts_calls_that_ran_one_after_another(self):
        self.assertEqual(bench_run.longest_chain([]), 0)
        self.assertEqual(bench_run.longest_chain([(0, 1), (1, 2), (2, 3)]), 3)  # touching counts
        self.assertEqual(bench_run.longest_chain([(0, 1), (0.1, 1.1), (0.2, 1.2)]), 1)
        # Root's calls as they should go: the KRO check, then dbadm list beside
        # the rest, then the refresh and the limits once dbadm list answered.
        spans = [(2.1, 3.1), (0, 1), (1.1, 2), (1.1, 2.1), (1.2, 2.2), (1.1, 2.1), (2.1, 3.2)]
        self.assertEqual(bench_run.longest_chain(spans), 3)


class SameAsInstant(unittest.TestCase):
    def test_call_lists_compare_as_multisets(self):
        self.assertEqual(bench_run.call_difference(["a", "b", "b"], ["b", "a", "b"]), "")
        self.assertEqual(bench_run.call_difference(["a", "b"], ["a", "b", "b"]), "extra b")
        self.assertEqual(bench_run.call_difference(["a", "c"], ["a"]), "missing c")

    def test_document_and_calls_are_both_checked(self):
        instant = {"document": "{}\n", "calls": ["dbadm|list"]}
        self.assertEqual(bench_run.compare_to_instant(instant, "{}\n", ["dbadm|list"]), [])
        problems = bench_run.compare_to_instant(instant, "{ }\n", [])
        self.assertEqual(len(problems), 2)
        self.assertIn("missing dbadm|list", problems[1])


# Stands in for the program: the KRO check, then the warden helper beside
# the panel's user-info-sys; with EXTRA set, one more call once the helpers
# are slow, and the delay in the document.
FAKE = """#!/bin/sh
h=/usr/share/kestrix3/scripts/kestrix-pnx-helper
$h panel-feature KRO >/dev/null
$h user-info-sys 1001 >/dev/null &
/usr/share/kestrix3/scripts/kestrix-ward-helper warden-mode >/dev/null
wait
read -r delay </usr/share/kestrix3/standin/delay
[ -n "$EXTRA" ] && [ "$delay" != 0 ] && $h admins >/dev/null
printf '{"result": "success", "users": [{"id": 1001}], "x": "%s"}\\n' "${EXTRA:+$delay}"
"""


@unittest.skipUnless(os.geteuid() == 0, "the sandbox needs root")
class InSandbox(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="nimbrel-bench-test.")
        os.chmod(self.work, 0o755)
        self.tree = bench_run.build_delay_tree(self.work)
        self.fake = os.path.join(self.work, "fake")
        with open(self.fake, "w") as f:
            f.write(FAKE)
        os.chmod(self.fake, 0o755)

    def tearDown(self):
        shutil.rmtree(self.work)

    def test_stand_in_waits_then_answers_with_its_status(self):
        bench_run.set_delay(self.tree, 300)
        bench_run.write(self.tree, bench_run.ANSWERS + "/dbadm.list.rc", "3\n")
        start = time.monotonic()
        done = subprocess.run(["/bin/sh", bench_run.SANDBOX, "--as", "1001", self.tree, "--",
                               "/usr/sbin/dbadm", "list"], capture_output=True, text=True)
        took = time.monotonic() - start
        self.assertEqual((done.returncode, done.stdout), (3, "USER\tCPU\tREAD\tWRITE\n"))
        self.assertGreaterEqual(took, 0.3)
        self.assertEqual(bench_run.read_log(self.tree, bench_run.CALL_LOG), ["dbadm|list"])
        (start_, end), = bench_run.parse_times(bench_run.read_log(self.tree, bench_run.TIMES_LOG))
        self.assertGreaterEqual(end - start_, 0.29)  # a clock to the hundredth

    def test_round_sees_overlapping_calls_and_no_difference(self):
        results = bench_run.run_delay_rounds(self.tree, self.fake, 150, 1)
        self.assertEqual(set(results), {label for label, _, _, _ in bench_run.DELAY_CALLERS})
        for res in results.values():
            self.assertEqual(res["problems"], [])
            self.assertEqual(res["calls"], ["kestrix-pnx-helper|panel-feature|KRO",
                                            "kestrix-pnx-helper|user-info-sys|1001",
                                            "kestrix-ward-helper|warden-mode"])
            self.assertEqual(res["seen"], [2])
            self.assertGreaterEqual(res["waited"][0], 2)
            self.assertLess(res["waited"][0], 3)

    def test_round_reports_other_calls_and_documents(self):
        os.environ["EXTRA"] = "1"
        try:
            results = bench_run.run_delay_rounds(self.tree, self.fake, 50, 1)
        finally:
            del os.environ["EXTRA"]
        for res in results.values():
            self.assertEqual(res["problems"], [
                "the document differs from the one printed with instant helpers",
                "other calls than with instant helpers: extra kestrix-pnx-helper|admins"])
        self.assertTrue(os.path.exists(os.path.join(self.tree, "io", "delayed-1.json")))


if __name__ == "__main__":
    unittest.main()
