#!/usr/bin/env python3
"""Checks of the bench input generator: file format and expected values."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_inputs as mi  # noqa: E402


class MakeInputs(unittest.TestCase):
    def test_triangle_text(self):
        g = mi.Graph(3)
        g.edge(0, 1)
        g.edge(0, 2)
        g.edge(1, 2)
        self.assertEqual(mi.problem_text(g, [0, 1], 2, 0.5, 0.5),
                         "3 3\n0,2,4,6,\n2,3,1,3,1,2,\n1,1,0,\n2\n0.5\n0.5\n")

    def test_duplicate_edge_is_refused(self):
        g = mi.Graph(2)
        g.edge(0, 1)
        with self.assertRaises(AssertionError):
            g.edge(1, 0)

    def test_every_edge_under_both_ends(self):
        for g in (mi.grid(4, 5), mi.dodecahedron(), mi.random_graph(3, 10, 0.5), mi.k2n(5), mi.path(6)):
            for u, a in enumerate(g.adj):
                self.assertEqual(len(set(a)), len(a))
                for w in a:
                    self.assertIn(u, g.adj[w])
            self.assertEqual(sum(map(len, g.adj)), 2 * g.m)

    def test_expected_values(self):
        p = 0.9
        self.assertEqual(mi.expected_k2n(1, p), p * p)
        self.assertEqual(mi.expected_k2n(2, p), p * p + (1.0 - p * p) * (p * p))
        self.assertEqual(mi.expected_path(2, p), p)
        self.assertEqual(mi.expected_path(4, p), p * p * p)

    def test_inputs_are_fixed(self):
        for make in mi.SMALL.values():
            self.assertEqual(mi.problem_text(*make()), mi.problem_text(*make()))

    def test_committed_inputs_are_current(self):
        folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), "inputs")
        for name, make in mi.SMALL.items():
            with open(os.path.join(folder, name, "input"), newline="") as f:
                self.assertEqual(f.read(), mi.problem_text(*make()), name)


if __name__ == "__main__":
    unittest.main()
