"""kiv_core needs no numpy: with numpy's import blocked it imports and every one of its names works."""

import textwrap

from procs import run_python

SCRIPT = textwrap.dedent("""
    import sys

    class NoNumpy:
        def find_spec(self, name, path=None, target=None):
            if name == "numpy" or name.startswith("numpy."):
                raise ImportError("numpy is blocked")

    sys.meta_path.insert(0, NoNumpy())
    import kiv_core as k

    try:
        import numpy
        raise SystemExit("numpy was importable")
    except ImportError:
        pass
    try:
        import kiv
        raise SystemExit("kiv imported without numpy")
    except ImportError:
        pass

    p = k.KIVPoint(1.0, 2.0)
    results = {
        "KIVPoint": p.tension(),
        "KIVPair": k.KIVPair(1.0, 2.0).modulus,
        "KIVKnot": k.KIVKnot(p, 1, 0.5).rho,
        "exp_n": k.exp_n([1.0]), "ln_n": k.ln_n([0.0]), "add_n": k.add_n([1.0], [2.0]),
        "sub_n": k.sub_n([1.0], [2.0]), "mul_n": k.mul_n([3.0], [2.0]), "div_n": k.div_n([1.0], [0.0]),
        "sqrt_n": k.sqrt_n([-4.0]), "sin_n": k.sin_n([0.0]), "cos_n": k.cos_n([0.0]),
        "tension_n": k.tension_n([0.0], [0.0]), "pow_n": k.pow_n([-2.0], [3.0]),
        "boost_n": k.boost_n([(0.0, 1.0)], [0.5], 1.0),
        "rotate_phase_n": k.rotate_phase_n([(1.0, 0.0)], [0.5]),
        "schrodinger_step_n": k.schrodinger_step_n([(0.0, 1.0)], [0.1], 0.01, 1.0),
        "simulate_pulses_n": k.simulate_pulses_n(0.0, 1.0, 3),
        "christoffel_batch_n": k.christoffel_batch_n([(1.0, 3.0)], 1, 0, 0, 0.75),
        "octonion_mul_n": k.octonion_mul_n([[1.0] * 8], [[1.0] * 8]),
        "geometric_product_n": k.geometric_product_n([[0.0, 1.0]], [[0.0, 1.0]], [1]),
        "find_formula": k.find_formula([[0.0], [1.0], [2.0]], [1.0, 2.0, 3.0], max_complexity=3, beam_width=20),
    }
    results["PySearchResult"] = type(results["find_formula"]).__name__
    assert sorted(results) == sorted(k.__all__), sorted(set(k.__all__) ^ set(results))
    print(results["tension_n"], results["PySearchResult"], "numpy" in sys.modules)
""")


def test_kiv_core_works_with_numpy_blocked():
    assert run_python(SCRIPT) == "[691.7755278982137] PySearchResult False"
