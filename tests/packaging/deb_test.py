#!/usr/bin/env python3
"""cpack -G DEB makes kestrune_VERSION_ARCH.deb holding what cmake --install puts under /usr, with
every library its programs link and the Python they run among its dependencies; lintian finds
nothing to report at any level, and the packed programs hold the code that was built; unpacked into
a scratch root, the tool runs from there and loads the module beside it.

Usage: deb_test.py BUILD_DIR CPACK VERSION WORK_DIR [lv2]
  lv2: the build has the LV2 bundle, which the package must then carry too
"""
import gzip
import os
import re
import shutil
import sys
import time

import packagingtest
from packagingtest import check, run_ok

# the cmake of the build, which CTest passes on
CMAKE = os.environ.get("CMAKE_COMMAND", "cmake")
REQUIRED_FILES = [
    "usr/lib/vst/Kestrune.so",
    "usr/bin/kestrune",
    "usr/share/man/man1/kestrune.1.gz",
    "usr/share/bash-completion/completions/kestrune",
    "usr/share/doc/kestrune/copyright",
    "usr/share/doc/kestrune/changelog.gz",
]
REQUIRED_DEPENDENCIES = ["libsndfile1", "libsamplerate0", "python3", "python3-matplotlib"]
# Packed ELF file -> the file of the build folder it is made from.
BUILT_FILES = {
    "usr/lib/vst/Kestrune.so": "Kestrune.so",
    "usr/bin/kestrune": "tools/kestrune/kestrune",
    "usr/lib/lv2/kestrune.lv2/kestrune.so": "lv2-bundles/kestrune.lv2/kestrune.so",
}
# The sections whose bytes a loader maps and runs: stripping may remove anything but these.
LOADED_SECTIONS = [".text", ".rodata", ".data", ".init_array"]


def package_names(depends):
    """Every package named in a Depends field, alternatives included, without versions."""
    return {re.sub(r"[\s(].*$", "", alternative.strip()) for clause in depends.split(",")
            for alternative in clause.split("|") if alternative.strip()}


def staged_files(build, components, stage):
    """The files cmake --install --prefix /usr puts in place for the components."""
    env = dict(os.environ, DESTDIR=stage)
    for component in components:
        run_ok([CMAKE, "--install", build, "--prefix", "/usr", "--component", component], env=env)
    found = set()
    for folder, _, files in os.walk(stage):
        for name in files:
            found.add(os.path.relpath(os.path.join(folder, name), stage))
    return found


def owning_package(library):
    """The Debian package that installed the shared library the dynamic loader resolves for a
    NEEDED name, e.g. libsndfile.so.1 -> libsndfile1."""
    text = run_ok(["/sbin/ldconfig", "-p"])
    paths = re.findall(r"^\s*%s \(libc6,x86-64[^)]*\) => (\S+)$" % re.escape(library), text, re.MULTILINE) or \
        re.findall(r"^\s*%s \([^)]*\) => (\S+)$" % re.escape(library), text, re.MULTILINE)
    check(paths, "the loader does not know %s" % library)
    real = os.path.realpath(paths[0])
    for candidate in (paths[0], real, real.replace("/usr/lib/", "/lib/", 1), paths[0].replace("/usr/lib/", "/lib/", 1)):
        code, out, _ = packagingtest.run(["dpkg", "-S", candidate])
        if code == 0:
            return out.split(":")[0]
    raise packagingtest.Failure("no package owns %s (%s)" % (library, real))


def lintian_report(deb):
    """Every tag lintian gives the package at every level, pedantic and experimental included,
    read without the user's configuration or overrides."""
    lintian = shutil.which("lintian")
    check(lintian, "lintian is not installed: install the Debian package 'lintian'")
    code, out, err = packagingtest.run([lintian, "--no-cfg", "--ignore-lintian-env", "--no-override", "-I", "-E",
                                        "--pedantic", "--fail-on", "none", deb], timeout=300)
    check(code == 0, "lintian exited with %d: %s%s" % (code, out, err))
    return [line for line in out.splitlines() if re.match(r"^[EWIPXO]: ", line)]


def section_bytes(path, section, work):
    """The contents of one section of an ELF file, or None when it has none."""
    out = os.path.join(work, "section.bin")
    code, _, err = packagingtest.run(["objcopy", "-O", "binary", "--only-section=" + section, path, out])
    check(code == 0, "objcopy could not read %s of %s: %s" % (section, path, err))
    with open(out, "rb") as file:
        data = file.read()
    os.remove(out)
    return data or None


def test(build, cpack, version, work, with_lv2):
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    started = time.monotonic()
    run_ok([cpack, "-G", "DEB", "--config", os.path.join(build, "CPackConfig.cmake"), "-B", os.path.join(work, "out")],
           timeout=300)
    print("cpack -G DEB took %.1f s" % (time.monotonic() - started))

    architecture = run_ok(["dpkg", "--print-architecture"]).strip()
    debs = [name for name in os.listdir(os.path.join(work, "out")) if name.endswith(".deb")]
    expected_name = "kestrune_%s_%s.deb" % (version, architecture)
    check(debs == [expected_name], "cpack wrote %s, expected just %s" % (debs, expected_name))
    deb = os.path.join(work, "out", expected_name)

    fields = {}
    for line in run_ok(["dpkg-deb", "-f", deb]).splitlines():
        match = re.match(r"^(\S+): (.*)$", line)
        if match:
            fields[match.group(1)] = match.group(2)
    print("\n".join("%s: %s" % item for item in sorted(fields.items()) if item[0] != "Description"))
    check(fields.get("Package") == "kestrune", "Package is %r" % fields.get("Package"))
    check(fields.get("Version") == version, "Version is %r, expected %r" % (fields.get("Version"), version))
    check(fields.get("Architecture") == architecture, "Architecture is %r" % fields.get("Architecture"))
    depends = package_names(fields.get("Depends", ""))
    missing = [name for name in REQUIRED_DEPENDENCIES if name not in depends]
    check(not missing, "Depends lacks %s: %r" % (missing, fields.get("Depends")))

    # Contents: exactly what cmake --install --prefix /usr puts in place, and the required files.
    listed = set()
    for line in run_ok(["dpkg-deb", "-c", deb]).splitlines():
        if not line.startswith("d"):
            listed.add(os.path.normpath(line.split()[-1]).lstrip("./") if " -> " not in line
                       else os.path.normpath(line.split(" -> ")[0].split()[-1]).lstrip("./"))
    components = ["plugin", "tools"] + (["lv2"] if with_lv2 else [])
    staged = staged_files(build, components, os.path.join(work, "staged"))
    check(listed == staged, "the package differs from cmake --install --prefix /usr:\n only in the package: %s\n"
          " only installed: %s" % (sorted(listed - staged), sorted(staged - listed)))
    required = REQUIRED_FILES + (["usr/lib/lv2/kestrune.lv2/manifest.ttl"] if with_lv2 else [])
    absent = [path for path in required if path not in listed]
    check(not absent, "the package lacks %s" % absent)
    if with_lv2:
        check(any(re.match(r"^usr/lib/lv2/kestrune\.lv2/[^/]+\.so$", path) for path in listed),
              "the package has no LV2 binary in usr/lib/lv2/kestrune.lv2")

    # lintian sees everything Debian's archive would hold against the package: the contact, the
    # changelog, maintainer scripts, hardening, leftovers of the compiler.
    tags = lintian_report(deb)
    print("lintian -I -E --pedantic: %d tags" % len(tags))
    check(not tags, "lintian reports:\n" + "\n".join(tags))
    control = os.path.join(work, "control")
    run_ok(["dpkg-deb", "--control", deb, control])
    maintainer_scripts = sorted(set(os.listdir(control)) & {"preinst", "postinst", "prerm", "postrm"})
    check(not maintainer_scripts, "the package has maintainer scripts %s, which nothing in it needs"
          % maintainer_scripts)

    # Unpacked into a scratch root: every library an ELF file in it needs comes from a package the
    # Depends field names.
    root = os.path.join(work, "root")
    run_ok(["dpkg", "-x", deb, root])
    needed = set()
    for path in sorted(listed):
        with open(os.path.join(root, path), "rb") as file:
            if file.read(4) != b"\x7fELF":
                continue
        needed |= set(re.findall(r"^\s*NEEDED\s+(\S+)$", run_ok(["objdump", "-p", os.path.join(root, path)]),
                                 re.MULTILINE))
    check("libsndfile.so.1" in needed, "the packaged tool does not link libsndfile: %s" % sorted(needed))
    for library in sorted(needed):
        package = owning_package(library)
        check(package.split(":")[0] in depends,
              "%s comes from %s, which Depends does not name: %r" % (library, package, fields.get("Depends")))
    # The changelog's newest entry is this version, in the package's own name.
    with gzip.open(os.path.join(root, "usr/share/doc/kestrune/changelog.gz"), "rt") as file:
        head = file.readline().strip()
    check(re.match(r"^kestrune \(%s\) " % re.escape(version), head),
          "the changelog starts with %r, not with an entry for kestrune %s" % (head, version))
    # Stripping took names and notes only: what the loader maps is what was built and tested.
    for packed, built in sorted(BUILT_FILES.items()):
        if packed not in listed:
            continue
        for section in LOADED_SECTIONS:
            check(section_bytes(os.path.join(root, packed), section, work) ==
                  section_bytes(os.path.join(build, built), section, work),
                  "%s of the packed %s differs from %s of the build" % (section, packed, section))

    kestrune = os.path.join(root, "usr/bin/kestrune")
    module = os.path.join(root, "usr/lib/vst/Kestrune.so")
    printed = run_ok([kestrune, "--version"]).strip()
    check(printed == "kestrune " + version, "the packaged kestrune --version prints %r" % printed)
    info = run_ok([kestrune, "info", "--plugin", module])
    print(info)
    check(re.search(r"^Effect\s+Kestrune$", info, re.MULTILINE), "info does not name the effect Kestrune")
    check(re.search(r"^Unique ID\s+'BRLA'", info, re.MULTILINE), "info does not show the unique ID 'BRLA'")
    # The packaged module is stripped and still exports only its entry.
    run_ok([CMAKE, "-DMODULE=" + module, "-DFORMAT=ELF", "-DNM=nm", "-DOBJDUMP=objdump", "-DCHECK=exports", "-P",
            os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "platform", "CheckModuleFile.cmake")])
    check("not stripped" not in run_ok(["file", "-L", module]), "the packaged module is not stripped")
    # bash-completion's own loader finds the completion where the package puts it, and not
    # without it (a scratch home, so no completion of the user's own is found).
    loader = "/usr/share/bash-completion/bash_completion"
    check(os.path.isfile(loader), "%s is missing: install the Debian package 'bash-completion'" % loader)
    home = os.path.join(work, "home")
    os.makedirs(home)
    for data_dirs, found in ((os.path.join(root, "usr/share"), True), (os.path.join(work, "out"), False)):
        env = {"HOME": home, "PATH": "/usr/bin:/bin", "XDG_DATA_DIRS": data_dirs}
        code, out, err = packagingtest.run(["bash", "--norc", "--noprofile", "-c",
                                            'source "$1"; __load_completion kestrune; complete -p kestrune',
                                            "loader", loader], env=env)
        check((code == 0 and "kestrune" in out) == found,
              "bash-completion with XDG_DATA_DIRS=%s: %s (exit %d) %s" % (data_dirs, out.strip(), code, err.strip()))
    # The plot script travels with the tool: a picture drawn by the packaged tool.
    picture = os.path.join(work, "curve.png")
    run_ok([kestrune, "curve", "-q", "--plugin", module, "--ratio", "4", "--threshold", "-20", "-o", picture])
    with open(picture, "rb") as file:
        check(file.read(8) == b"\x89PNG\r\n\x1a\n", "the packaged kestrune curve did not write a PNG")
    print("whole test took %.1f s" % (time.monotonic() - started))


if __name__ == "__main__":
    if len(sys.argv) not in (5, 6) or (len(sys.argv) == 6 and sys.argv[5] != "lv2"):
        sys.exit(__doc__)
    packagingtest.main(lambda: test(os.path.abspath(sys.argv[1]), sys.argv[2], sys.argv[3], os.path.abspath(sys.argv[4]),
                                    len(sys.argv) == 6))
