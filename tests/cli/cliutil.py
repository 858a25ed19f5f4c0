"""Running the built program as a user runs it, for the CLI tests."""
import os
import subprocess
import time


def run_tool(tool, *args, env_extra=None):
    """Runs the tool with a clean POSIXLY_CORRECT; returns (result, seconds)."""
    env = dict(os.environ)
    env.pop("POSIXLY_CORRECT", None)
    env.update(env_extra or {})
    start = time.monotonic()
    result = subprocess.run([tool, *args], capture_output=True, env=env, timeout=60)
    return result, time.monotonic() - start
