import pytest

import varnel_py


@pytest.fixture
def reg():
    return varnel_py.Registry()
