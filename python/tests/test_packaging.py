"""The package as pip installs it (offline, with Debian's pip and setuptools
driving the same CMake build), and the one version everything gives."""
import json
import os
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def test_pip_installs_the_package_with_the_version_the_records_carry(tmp_path):
    import orvane
    build = os.path.dirname(os.path.dirname(os.path.abspath(orvane.__file__)))  # <build>/python/orvane
    env = dict(os.environ, ORVANE_BUILD_DIR=os.path.dirname(build))
    target = tmp_path / "site"
    run = subprocess.run([sys.executable, "-m", "pip", "install", "--no-build-isolation", "--no-deps", "--no-index",
                          "--target", str(target), ROOT], capture_output=True, text=True, env=env)
    assert run.returncode == 0, run.stdout[-2000:] + run.stderr[-2000:]
    check = subprocess.run([sys.executable, "-c", "import orvane; print(orvane.__version__); print(orvane.__file__)"],
                           cwd=tmp_path, capture_output=True, text=True,
                           env=dict(os.environ, PYTHONPATH=str(target)))
    version, where = check.stdout.split()
    assert where.startswith(str(target))
    assert version == orvane.__version__
    batch = os.environ["ORVANE_BATCH"]
    assert subprocess.run([batch, "--version"], capture_output=True, text=True).stdout == f"orvane-batch {version}\n"
    records = tmp_path / "r.jsonl"
    subprocess.run([batch, "--json", str(records), os.path.join(ROOT, "examples", "fbm-d2.5.pgm")],
                   capture_output=True, check=True)
    assert json.loads(records.read_text().splitlines()[0])["version"] == version
