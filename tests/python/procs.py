"""Running a Python snippet in a fresh interpreter, with the worker pool's environment under control."""

import os
import subprocess
import sys


def run_python(script, env_extra=None, threads=None, preexec_fn=None):
    """Runs script in a fresh interpreter with no inherited RAYON_* settings (plus env_extra, and
    RAYON_NUM_THREADS=threads when given); fails unless it exits cleanly; returns its stripped stdout."""
    env = {k: v for k, v in os.environ.items() if not k.startswith("RAYON_")}
    env.update(env_extra or {})
    if threads is not None:
        env["RAYON_NUM_THREADS"] = str(threads)
    out = subprocess.run([sys.executable, "-c", script], env=env, capture_output=True, text=True, timeout=300,
                         preexec_fn=preexec_fn)
    assert out.returncode == 0, out.stderr
    return out.stdout.strip()
