#!/usr/bin/python3
"""The harness's measurement of one program: peak RSS, CPU time and exit
status must be the measured program's, whatever the harness itself holds."""
import importlib.machinery
import importlib.util
import os
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
loader = importlib.machinery.SourceFileLoader("bench_run", os.path.join(HERE, "..", "run"))
module_spec = importlib.util.spec_from_loader("bench_run", loader)
bench_run = importlib.util.module_from_spec(module_spec)
loader.exec_module(bench_run)

MIB = 1024  # measure() counts KiB


class Measure(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.out = os.path.join(self.dir.name, "out")
        self.err = os.path.join(self.dir.name, "err")

    def tearDown(self):
        self.dir.cleanup()

    def run_program(self, *argv):
        return bench_run.measure(list(argv), self.out, self.err)

    def test_small_program_is_not_charged_with_the_harness_size(self):
        ballast = b"x" * (256 << 20)  # noqa: F841 - held while the child runs
        _, _, rss, status = self.run_program("/bin/true")
        self.assertEqual(status, 0)
        self.assertLess(rss, 32 * MIB)

    def test_peak_of_a_large_program_is_seen(self):
        _, _, rss, status = self.run_program(bench_run.PYTHON, "-c", "b = b'x' * (128 << 20)")
        self.assertEqual(status, 0)
        self.assertGreater(rss, 128 * MIB)

    def test_cpu_time_is_the_programs_and_exit_status_passes_through(self):
        seconds, cpu, _, status = self.run_program(
            bench_run.PYTHON, "-c", "import time, sys\n"
            "end = time.process_time() + 0.3\n"
            "while time.process_time() < end: pass\n"
            "sys.exit(3)")
        self.assertEqual(status, 3)
        self.assertGreaterEqual(cpu, 0.3)
        self.assertGreaterEqual(seconds, cpu * 0.9)  # one thread: no more CPU than wall time

    def test_output_goes_to_the_given_files(self):
        self.run_program("/bin/sh", "-c", "echo report; echo trouble >&2")
        with open(self.out) as f:
            self.assertEqual(f.read(), "report\n")
        with open(self.err) as f:
            self.assertEqual(f.read(), "trouble\n")


if __name__ == "__main__":
    unittest.main()
