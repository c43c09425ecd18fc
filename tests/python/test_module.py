"""The module object: registration order, signatures, docstrings, one module per process."""

import subprocess
import sys
import textwrap

import pytest

import kiv_core

REGISTRATION = [
    ("KIVPoint", "(x, y)", None),
    ("KIVPair", "(real, imag)", None),
    ("KIVKnot", "(point, n=0, theta=0.0)", None),
    ("schrodinger_step_n", "(psi, v, dt, hbar)",
     "Batch Schrödinger potential-phase step: ψ_n → e^{-iV_n·dt/ħ}·ψ_n for all n.\nReturns list of (real, imag) tuples."),
    ("rotate_phase_n", "(pairs, angles)", "Batch rotate_phase for a list of KIVPairs."),
    ("simulate_pulses_n", "(x0, y0, n_pulses)", "Simulate n_pulses of mirror_pulse, returning (x, y, tension) per step."),
    ("boost_n", "(points, phis, c)",
     "Batch Lorentz boost: apply boost(phi_i, c) to each (x_i, y_i) point in parallel.\nReturns Vec of (x', y') tuples."),
    ("exp_n", "(xs)", "Batch exp: [exp(x) for x in xs] — Rayon parallel."),
    ("ln_n", "(ys)", "Batch ln: [ln(y) for y in ys] — Rayon parallel, frame-shift guard applied."),
    ("add_n", "(as_, bs)", "Batch add: [a + b for (a, b) in zip(as_, bs)] — Rayon parallel."),
    ("sub_n", "(as_, bs)", "Batch sub: [a - b for (a, b) in zip(as_, bs)] — Rayon parallel."),
    ("mul_n", "(as_, bs)", "Batch mul: [a * b for (a, b) in zip(as_, bs)] — Rayon parallel."),
    ("div_n", "(as_, bs)", "Batch div: [a / b] — NaN for |b| < 1e-300 — Rayon parallel."),
    ("sqrt_n", "(xs)", "Batch sqrt: [sqrt(|x|) for x in xs] — Rayon parallel."),
    ("sin_n", "(xs)", "Batch sin: [sin(x) for x in xs] — Rayon parallel."),
    ("cos_n", "(xs)", "Batch cos: [cos(x) for x in xs] — Rayon parallel."),
    ("tension_n", "(xs, ys)", "Batch kiv_tension: [kiv(x, y) for (x, y) in zip(xs, ys)] — Rayon parallel."),
    ("pow_n", "(bases, exps)", "Batch pow: [|base|^exp for (base, exp) in zip(bases, exps)] — Rayon parallel."),
    ("christoffel_batch_n", "(points, lam, mu, nu, rs)",
     "Batch Schwarzschild Christoffel evaluation.\npoints: Vec of (x, _) where r = exp(x).\n"
     "Returns Vec of Γ^lam_{mu nu} values for each point."),
    ("octonion_mul_n", "(a_batch, b_batch)",
     "Batch octonion multiplication (Rayon parallel).\na_batch, b_batch: each is a Vec of 8-element float lists.\n"
     "Returns Vec of 8-element results."),
    ("geometric_product_n", "(a_batch, b_batch, signature)",
     "Batch geometric product (Rayon parallel).\na_batch, b_batch: each is a Vec of flat coefficient arrays.\n"
     "signature: +1/-1 per basis vector (length n, algebra dimension = 2^n).\nReturns Vec of result coefficient arrays."),
    ("PySearchResult", None, "Python-facing formula discovery result."),
    ("find_formula",
     "(x_data, y_data, max_complexity=8, beam_width=2000, precision_goal=1e-10, use_trig=True, use_kiv=True, "
     "complexity_penalty=0.001)",
     "Find a formula fitting x_data → y_data.\nx_data: list of column vectors (one per variable), or a single 1D "
     "list for univariate.\ny_data: target values (1D list)."),
]
NAMES = [name for name, _, _ in REGISTRATION]


@pytest.mark.parametrize("name", [n for n, _, _ in REGISTRATION if n[0].islower()])
def test_functions_are_bound_to_the_module(name):
    # Order, text signatures and docstrings of every entry: test_registration.
    fn = getattr(kiv_core, name)
    assert fn.__self__ is kiv_core
    assert fn.__name__ == name
    assert fn.__module__ == "kiv_core"


def test_module_doc_is_empty():
    assert kiv_core.__doc__ == ""


def test_reimport_returns_the_same_module():
    script = textwrap.dedent(
        """
        import sys, kiv_core
        first = kiv_core
        del sys.modules["kiv_core"]
        import kiv_core
        assert kiv_core is first
        assert len(kiv_core.__all__) == len(set(kiv_core.__all__))
        print(len(kiv_core.__all__))
        """
    )
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=60)
    assert out.returncode == 0, out.stderr
    assert int(out.stdout) == len(kiv_core.__all__)


def test_a_second_interpreter_cannot_import_it():
    pytest.importorskip("_testcapi")
    script = textwrap.dedent(
        """
        import kiv_core, _testcapi
        rc = _testcapi.run_in_subinterp("import kiv_core")
        print(rc)
        """
    )
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=60)
    assert out.returncode == 0, out.stderr
    assert out.stdout.strip() == "-1"
    assert "ImportError" in out.stderr and "does not support sub-interpreters" in out.stderr


def test_functions_are_fast_call_builtins():
    assert type(kiv_core.exp_n).__name__ == "builtin_function_or_method"
    assert "PanicException" not in dir(kiv_core)
