"""Refuses a wheel whose extensions need a shared library the wheel does not carry, other
than the C and C++ runtime (scripts/wheel.sh runs it on the repaired wheel).

Usage: python scripts/wheel_libraries.py WHEEL
"""

import re
import sys
import zipfile
from io import BytesIO

from elftools.elf.dynamic import DynamicSection
from elftools.elf.elffile import ELFFile

# The C and C++ runtime, present on every Linux a manylinux wheel installs on.
RUNTIME = re.compile(
    r"(libc|libm|libdl|librt|libpthread|libstdc\+\+|libgcc_s|ld-linux-x86-64)\.so(\.\d+)*$"
)


def needed(data: bytes) -> list[str]:
    elf = ELFFile(BytesIO(data))
    return [
        tag.needed
        for section in elf.iter_sections()
        if isinstance(section, DynamicSection)
        for tag in section.iter_tags()
        if tag.entry.d_tag == "DT_NEEDED"
    ]


def main(path: str) -> int:
    with zipfile.ZipFile(path) as wheel:
        libraries = [name for name in wheel.namelist() if re.search(r"\.so(\.\d+)*$", name)]
        carried = {name.rsplit("/", 1)[-1] for name in libraries}
        missing = {}
        for name in libraries:
            for lib in needed(wheel.read(name)):
                if not RUNTIME.match(lib) and lib not in carried:
                    missing.setdefault(lib, []).append(name)
    for name in sorted(libraries):
        print(f"  {name}")
    if missing:
        for lib, users in sorted(missing.items()):
            users_text = ", ".join(users)
            print(f"needs {lib}, which the wheel does not carry: {users_text}", file=sys.stderr)
        return 1
    print("libraries: the C and C++ runtime, and what the wheel carries")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
