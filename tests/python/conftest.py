import pathlib
import sys

# Test helpers (bundle writers, PyTorch references) live in tests/support.
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "support"))
