"""The README's examples, run as a reader runs them: from the repository's
folder, on the sample surfaces in examples/."""
import os
import subprocess
import sys

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def readme_blocks(language):
    """The README's fenced blocks tagged `language` ("" for untagged ones)."""
    blocks, current, tag = [], None, None
    with open(os.path.join(ROOT, "README.md"), encoding="utf-8") as readme:
        for line in readme:
            if line.startswith("```"):
                if current is None:
                    current, tag = [], line[3:].strip()
                else:
                    if tag == language:
                        blocks.append("".join(current))
                    current = None
            elif current is not None:
                current.append(line)
    return blocks


def test_the_batch_examples_print_what_the_readme_shows():
    shown = [block for block in readme_blocks("") if block.startswith("file,width,height")]
    commands = [line for block in readme_blocks("sh") for line in block.splitlines()
                if line.startswith("build/release/orvane-batch") and "examples/" in line]
    assert len(commands) == len(shown) == 4
    for command, expected in zip(commands, shown):
        args = command.split(">")[0].split()[1:]
        files = sorted(os.path.join("examples", f) for f in os.listdir(os.path.join(ROOT, "examples"))
                       if f.endswith(".pgm"))
        args = [a for a in args if a != "examples/*.pgm"] + files
        run = subprocess.run([os.environ["ORVANE_BATCH"], *args], cwd=ROOT, capture_output=True, text=True)
        assert run.returncode == 0, run.stderr
        assert run.stdout == expected


def _python_example():
    return next(b for b in readme_blocks("python") if "analyse_files" in b)


def _check_printed(printed):
    assert "PsdResult(d=2.49724798495801" in printed
    assert printed.rstrip().endswith("True")


@pytest.mark.parametrize("how", ["file", "piped", "pasted"])
def test_the_python_example_runs_as_written(tmp_path, how):
    """Run as a new user runs it, in a fresh interpreter: saved as a file,
    piped to python3, and pasted into the interactive interpreter."""
    example = _python_example()
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(p for p in sys.path if p)
    command = [sys.executable]
    stdin = None
    if how == "file":
        script = tmp_path / "example.py"
        script.write_text(example)
        command.append(str(script))
    elif how == "piped":
        stdin = example
    else:
        command.append("-i")
        stdin = example
    run = subprocess.run(command, cwd=ROOT, input=stdin, capture_output=True, text=True, env=env, timeout=300)
    assert run.returncode == 0, run.stderr[-3000:]
    assert "Traceback" not in run.stderr and "SyntaxError" not in run.stderr, run.stderr[-3000:]
    _check_printed(run.stdout)
