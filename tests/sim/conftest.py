import os
import sys

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "sim"))


@pytest.fixture(scope="session")
def isolated():
    # Zenoh scouts the network: sessions only ever open inside tools/isolated
    if os.environ.get("TARN_ISOLATED") != "1":
        pytest.fail("tests that open Zenoh sessions must run under tools/isolated", pytrace=False)


@pytest.fixture(scope="session")
def session(isolated):
    import zenoh

    s = zenoh.open(zenoh.Config())
    yield s
    s.close()
