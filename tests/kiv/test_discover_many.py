"""kiv.discover_many: one formula per dataset, serially and on a Dask cluster of two worker processes."""

import numpy as np
import pytest

import kiv
import discover_util  # noqa: F401  (puts tests/python, with leaks.py, on the path)
from leaks import assert_no_leak


def _datasets():
    rng = np.random.default_rng(7)
    out = {}
    for i, f in enumerate([np.exp, np.sqrt, np.sin, lambda v: v * v, np.log, lambda v: 1 / v]):
        X = rng.uniform(0.5, 3.0, (int(rng.integers(20, 200)), 1))
        out[f"sensor{i}"] = (X, f(X[:, 0]) + rng.normal(size=len(X)) * 0.01)
    return out


def test_serial_equals_one_discover_each():
    data = _datasets()
    got = kiv.discover_many(data, max_complexity=4, beam_width=100)
    assert list(got) == list(data)
    for name, (X, y) in data.items():
        assert got[name] == kiv.discover(X, y, max_complexity=4, beam_width=100)
    assert kiv.discover_many(list(data.values()), max_complexity=4, beam_width=100) == list(got.values())


def test_no_leaks():
    data = {k: v for k, v in list(_datasets().items())[:2]}
    assert_no_leak(lambda: kiv.discover_many(data, max_complexity=3, beam_width=20), repeat=100)
    assert_no_leak(lambda: kiv.discover_many({"a": [1.0]}), repeat=300)


def test_bad_entries_are_named():
    with pytest.raises(ValueError, match="datasets: entry 'b' is not an \\(X, y\\) pair"):
        kiv.discover_many({"a": ([1.0], [1.0]), "b": [1.0]})
    with pytest.raises(ValueError, match="X and y: X has 2 samples, y has 1"):
        kiv.discover_many([([1.0, 2.0], [1.0])])


def test_local_cluster_with_two_worker_processes_gives_the_serial_results():
    distributed = pytest.importorskip("distributed")
    data = _datasets()
    serial = kiv.discover_many(data, max_complexity=5, beam_width=200)
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None) as cluster:
        with distributed.Client(cluster) as client:
            parallel = kiv.discover_many(data, client=client, max_complexity=5, beam_width=200)
            pids = set(client.run(lambda: __import__("os").getpid()).values())
    assert parallel == serial and len(pids) == 2


def test_example_fits_noisy_data_and_saves_a_plot(tmp_path, monkeypatch):
    pytest.importorskip("matplotlib")
    import runpy
    from pathlib import Path

    path = Path(__file__).resolve().parents[2] / "examples" / "discover_noisy.py"
    example = runpy.run_path(str(path), run_name="discover_noisy")
    out = tmp_path / "plot.png"
    formula = example["main"](str(out))
    assert out.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    assert formula.feature_names == ("t",) and formula.error < 0.15
