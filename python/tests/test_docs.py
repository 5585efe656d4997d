"""The README's Python example, the manual's snippets and the bank example
run as written."""
import os
import re
import subprocess
import sys

import pytest

from conftest import SOURCE


def python_blocks(text):
    return re.findall(r"```python\n(.*?)```", text, re.S)


def run_python(code, cwd):
    env = dict(os.environ, MPLBACKEND="Agg")
    done = subprocess.run([sys.executable, "-c", code], cwd=cwd, env=env, capture_output=True,
                          text=True, timeout=300)
    assert done.returncode == 0, done.stderr
    return done.stdout


def test_the_readme_example_runs_as_written(tmp_path):
    readme = (SOURCE / "README.md").read_text()
    section = readme.split("## From Python", 1)[1].split("\n## ", 1)[0]
    (example,) = python_blocks(section)
    out = run_python(example, tmp_path)
    assert "Mean time" in out and "half_width" in out
    assert (tmp_path / "line.png").stat().st_size > 0


@pytest.mark.parametrize("index", range(7))
def test_the_manuals_snippets_run(index):
    blocks = python_blocks((SOURCE / "docs" / "python.md").read_text())
    assert len(blocks) == 7
    run_python(blocks[index], SOURCE)


def test_the_bank_example_prints_what_the_manual_shows():
    manual = (SOURCE / "docs" / "python.md").read_text()
    bank = manual.split("## The bank whose customers renege", 1)[1]
    shown = re.findall(r"\n\n```\n(.*?)```", bank, re.S)[0]
    out = subprocess.run([sys.executable, str(SOURCE / "examples" / "bank_renege.py")],
                         capture_output=True, text=True, check=True).stdout
    strip = lambda text: [line.rstrip() for line in text.strip().splitlines()]
    assert strip(out) == strip(shown)
    # The manual shows the example file itself.
    code = (SOURCE / "examples" / "bank_renege.py").read_text()
    assert python_blocks(bank)[0].strip() in code
