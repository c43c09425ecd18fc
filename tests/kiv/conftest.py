"""The kiv package's tests share the leak check and subprocess runner of the kiv_core tests."""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "python"))
