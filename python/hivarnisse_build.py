"""Build backend for `pip install .`: the project's own CMake build makes the module, this file
only packs it into a wheel, so there is one build description to keep.

    python3 -m venv --system-site-packages venv
    venv/bin/pip install --no-build-isolation .

It needs cmake, a C++20 compiler, pybind11 and numpy for the interpreter that runs pip (on
Debian: sh setup.sh). CMake's build directory is build-pip/ in the source tree.
"""
import base64
import hashlib
import os
import pathlib
import re
import subprocess
import sys
import sysconfig
import tempfile
import zipfile

ROOT = pathlib.Path(__file__).resolve().parent.parent


def _tag():
    python = f"cp{sys.version_info.major}{sys.version_info.minor}"
    platform = re.sub(r"[-.]", "_", sysconfig.get_platform())
    return f"{python}-{python}{sys.abiflags}-{platform}"


def _project():
    try:
        import tomllib
    except ImportError:  # Python before 3.11
        raise RuntimeError("building the hivarnisse wheel needs Python 3.11 or later (tomllib)")
    with open(ROOT / "pyproject.toml", "rb") as f:
        return tomllib.load(f)["project"]


def _cmake(*args):
    print("+ cmake", " ".join(args), flush=True)
    subprocess.run(["cmake", *args], check=True)


def _build(stage):
    """Configures and builds the module alone, installs it into stage; returns the version."""
    try:
        import numpy  # noqa: F401  CMake checks for it too, with a less helpful message
    except ImportError:
        raise RuntimeError("numpy is missing where the module is built; with Debian's python3-numpy: "
                           "python3 -m venv --system-site-packages venv && "
                           "venv/bin/pip install --no-build-isolation .")
    build = ROOT / "build-pip" / _tag()
    _cmake("-S", str(ROOT), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release", "-DHV_WINDOW=OFF",
           "-DHV_TESTS=OFF", "-DHV_PYTHON=ON", f"-DPython3_EXECUTABLE={sys.executable}",
           "-DHV_PYTHON_INSTALL_DIR=.")
    jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", str(os.cpu_count() or 1))
    _cmake("--build", str(build), "--target", "hivarnisse_python", "--parallel", jobs)
    _cmake("--install", str(build), "--component", "python", "--prefix", str(stage))
    cache = (build / "CMakeCache.txt").read_text()
    return re.search(r"^CMAKE_PROJECT_VERSION:\w+=(.+)$", cache, re.M).group(1)


def _metadata(project, version):
    lines = ["Metadata-Version: 2.1", f"Name: {project['name']}", f"Version: {version}",
             f"Summary: {project.get('description', '')}"]
    if "requires-python" in project:
        lines.append(f"Requires-Python: {project['requires-python']}")
    lines += [f"Requires-Dist: {d}" for d in project.get("dependencies", [])]
    return "\n".join(lines) + "\n"


def _record_line(name, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{name},sha256={digest},{len(data)}"


def get_requires_for_build_wheel(config_settings=None):
    return []


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    project = _project()
    with tempfile.TemporaryDirectory() as stage:
        version = _build(stage)
        files = {p.name: p.read_bytes() for p in pathlib.Path(stage).iterdir() if p.is_file()}
    if not any(name.endswith(sysconfig.get_config_var("EXT_SUFFIX")) for name in files):
        raise RuntimeError(f"the build installed no module for this Python: {sorted(files)}")
    name = project["name"]
    info = f"{name}-{version}.dist-info"
    files[f"{info}/METADATA"] = _metadata(project, version).encode()
    files[f"{info}/WHEEL"] = (f"Wheel-Version: 1.0\nGenerator: hivarnisse_build\nRoot-Is-Purelib: false\n"
                              f"Tag: {_tag()}\n").encode()
    record = [_record_line(n, data) for n, data in files.items()] + [f"{info}/RECORD,,"]
    files[f"{info}/RECORD"] = ("\n".join(record) + "\n").encode()
    wheel = f"{name}-{version}-{_tag()}.whl"
    with zipfile.ZipFile(pathlib.Path(wheel_directory) / wheel, "w", zipfile.ZIP_DEFLATED) as z:
        for n, data in files.items():
            z.writestr(n, data)
    return wheel
