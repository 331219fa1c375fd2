"""Waiting for a condition that the service brings about in its own time."""

import time

from nimbal.control_http import PATIENCE_S


def wait_for(condition, what, within_s=PATIENCE_S, step_s=0.1):
    """The first true value of condition(), polled until within_s has passed."""
    deadline = time.monotonic() + within_s
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"{what}: not within {within_s} s")
        time.sleep(step_s)
