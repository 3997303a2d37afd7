"""Build backend of the orsk package: CMake compiles the extension with the repository's
library (python/CMakeLists.txt), and the wheel is zipped here, so a build needs CMake,
a C++ compiler and pybind11 but no Python package (no setuptools, no wheel)."""
import base64
import hashlib
import importlib.machinery
import os
import re
import shutil
import subprocess
import sys
import sysconfig
import zipfile
from pathlib import Path

PACKAGE_ROOT = Path(__file__).resolve().parent.parent  # python/
REPOSITORY = PACKAGE_ROOT.parent
SUMMARY = "Block compression at six levels, 0 HYPERFAST to 5 BEST"


def _version():
    header = REPOSITORY / "include" / "orsk" / "orsk.h"
    if not header.exists() or not (REPOSITORY / "CMakeLists.txt").exists():
        raise RuntimeError("the orsk package builds inside the orsk source tree (python/ beside include/ and "
                           "src/); %s is not one" % REPOSITORY)
    header = header.read_text()
    return re.search(r'^#define ORSK_VERSION_STRING "([^"]+)"', header, re.M).group(1)


def _tag():
    # The extension is built for this interpreter's ABI and platform only.
    python = "cp%d%d" % sys.version_info[:2]
    platform = re.sub(r"[-.]", "_", sysconfig.get_platform())
    return "%s-%s%s-%s" % (python, python, getattr(sys, "abiflags", ""), platform)


def _dist_info():
    return "orsk-%s.dist-info" % _version()


def _metadata_files():
    metadata = ("Metadata-Version: 2.1\nName: orsk\nVersion: %s\nSummary: %s\nRequires-Python: >=3.9\n"
                % (_version(), SUMMARY))
    wheel = ("Wheel-Version: 1.0\nGenerator: orsk cmake_backend\nRoot-Is-Purelib: false\nTag: %s\n" % _tag())
    return {"METADATA": metadata, "WHEEL": wheel, "top_level.txt": "orsk\n"}


def _build_extension():
    """Configures and builds orsk._orsk under the repository's build/ folder, where a
    later install rebuilds only what changed; returns the module's path."""
    build = REPOSITORY / "build" / ("python-" + _tag())
    output = build / "module"
    configure = ["cmake", "-S", str(PACKAGE_ROOT), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
                 "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG", "-DPython_EXECUTABLE=" + sys.executable,
                 "-DORSK_PYTHON_OUTPUT=" + str(output)]
    if shutil.which("ninja") and not (build / "CMakeCache.txt").exists():
        configure += ["-G", "Ninja"]
    subprocess.run(configure, check=True)
    subprocess.run(["cmake", "--build", str(build), "--target", "_orsk"], check=True)
    suffixes = importlib.machinery.EXTENSION_SUFFIXES
    built = [p for p in output.glob("_orsk*") if any(p.name.endswith(s) for s in suffixes)]
    if len(built) != 1:
        raise RuntimeError("expected one built module in %s, found %s" % (output, built))
    return built[0]


def _record_line(name, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return "%s,sha256=%s,%d" % (name, digest, len(data))


def get_requires_for_build_wheel(config_settings=None):
    return []


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    target = Path(metadata_directory) / _dist_info()
    target.mkdir(parents=True, exist_ok=True)
    for name, text in _metadata_files().items():
        (target / name).write_text(text)
    return target.name


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    module = _build_extension()
    files = {"orsk/" + p.name: p.read_bytes() for p in sorted((PACKAGE_ROOT / "src" / "orsk").glob("*.py"))}
    files["orsk/" + module.name] = module.read_bytes()
    files.update({_dist_info() + "/" + name: text.encode() for name, text in _metadata_files().items()})
    record = _dist_info() + "/RECORD"
    lines = [_record_line(name, data) for name, data in files.items()] + [record + ",,"]
    files[record] = ("\n".join(lines) + "\n").encode()

    name = "orsk-%s-%s.whl" % (_version(), _tag())
    with zipfile.ZipFile(os.path.join(wheel_directory, name), "w", zipfile.ZIP_DEFLATED) as wheel:
        for path, data in files.items():
            info = zipfile.ZipInfo(path, date_time=(1980, 1, 1, 0, 0, 0))
            info.external_attr = (0o755 if path.endswith(module.name) else 0o644) << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            wheel.writestr(info, data)
    return name
