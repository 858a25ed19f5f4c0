"""Running the built program as a user runs it, for the CLI tests."""
import atexit
import os
import shutil
import subprocess
import tempfile
import time

# The tool opens the file it is given before anything else, so the runs
# happen in a folder that holds the files the tests name.
WORKDIR = tempfile.mkdtemp(prefix="flashdrop-cli-")
atexit.register(shutil.rmtree, WORKDIR, True)
for _name in ("fw.uf2", "a.uf2", "b.uf2"):
    with open(os.path.join(WORKDIR, _name), "wb") as _f:
        _f.write(b"not a UF2 image, copied as it is\n")


def run_tool(tool, *args, env_extra=None):
    """Runs the tool with a clean POSIXLY_CORRECT; returns (result, seconds)."""
    env = dict(os.environ)
    env.pop("POSIXLY_CORRECT", None)
    env.update(env_extra or {})
    start = time.monotonic()
    result = subprocess.run([tool, *args], capture_output=True, env=env, timeout=60,
                            cwd=WORKDIR)
    return result, time.monotonic() - start
