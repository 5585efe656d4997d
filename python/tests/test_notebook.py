"""The example notebook runs headless from top to bottom, in this interpreter."""
import json
import sys

import pytest

from conftest import SOURCE

nbclient = pytest.importorskip("nbclient", reason="tools/setup.sh --test installs python3-nbclient")
nbformat = pytest.importorskip("nbformat")


def test_the_example_notebook_runs(tmp_path, monkeypatch):
    # A kernel of this very interpreter (the module is built for it), found
    # before any other kernel named python3.
    kernel_dir = tmp_path / "kernels" / "python3"
    kernel_dir.mkdir(parents=True)
    (kernel_dir / "kernel.json").write_text(json.dumps({
        "argv": [sys.executable, "-Xfrozen_modules=off", "-m", "ipykernel_launcher", "-f", "{connection_file}"],
        "display_name": "Python 3", "language": "python"}))
    monkeypatch.setenv("JUPYTER_PATH", str(tmp_path))
    monkeypatch.delenv("MPLBACKEND", raising=False)  # the kernel's inline plots
    monkeypatch.setenv("PYDEVD_DISABLE_FILE_VALIDATION", "1")
    notebook = nbformat.read(SOURCE / "examples" / "quorin.ipynb", as_version=4)
    nbclient.NotebookClient(notebook, timeout=300, kernel_name="python3",
                            resources={"metadata": {"path": str(SOURCE)}}).execute()
    outputs = [o for cell in notebook.cells if cell.cell_type == "code" for o in cell.outputs]
    html = "".join(o.get("data", {}).get("text/html", "") for o in outputs)
    assert "<svg" in html and "half_width" in html and "mean wait" in html
    assert any("image/png" in o.get("data", {}) for o in outputs)
