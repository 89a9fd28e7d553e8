"""The script that tests the module on every supported Python."""
import os
import subprocess
from pathlib import Path

SCRIPT = Path(__file__).resolve().parents[2] / "tools" / "test_pythons.sh"


def test_missing_interpreters_are_reported_not_failed(tmp_path):
    # No pyenv and a PATH whose only Python is Debian's, which is skipped as
    # already tested: nothing is built, every version is accounted for.
    env = dict(os.environ, PYENV_ROOT=str(tmp_path / "no-pyenv"), PATH="/usr/bin:/bin")
    done = subprocess.run(["bash", str(SCRIPT), "--skip", "/usr/bin/python3"], env=env,
                          capture_output=True, text=True, timeout=60)
    assert done.returncode == 0, done.stdout + done.stderr
    lines = done.stdout.splitlines()
    assert lines[0] == "Python versions:"
    report = {line.split()[0]: line for line in lines[1:]}
    assert sorted(report) == ["3.10", "3.11", "3.12", "3.13"]
    # Whichever version Debian's python3 is, it is the one skipped.
    debian = subprocess.run(["/usr/bin/python3", "-c", "import sys; print('%d.%d' % sys.version_info[:2])"],
                            capture_output=True, text=True, check=True).stdout.strip()
    for version in report:
        if version != debian:
            assert report[version].endswith("not found on this machine, not tested")
    assert report[debian].endswith("/usr/bin/python3: skipped (tested elsewhere)")


def test_an_interpreter_that_is_not_there_fails():
    done = subprocess.run(["bash", str(SCRIPT), "/nonexistent/python3.12"],
                          capture_output=True, text=True, timeout=60)
    assert done.returncode == 1
    assert "/nonexistent/python3.12: not an executable" in done.stdout
