"""The README's examples, run as a reader runs them: from the repository's
folder, on the sample surfaces in examples/."""
import os
import subprocess

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


@pytest.mark.filterwarnings("ignore::DeprecationWarning")
def test_the_python_example_runs_as_written(capsys, monkeypatch):
    example = next(b for b in readme_blocks("python") if "analyse_files" in b)
    monkeypatch.chdir(ROOT)
    exec(compile(example, "README.md", "exec"), {})
    printed = capsys.readouterr().out
    assert "PsdResult(d=2.49724798495801" in printed
    assert printed.rstrip().endswith("True")
