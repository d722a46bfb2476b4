"""Render a Cython Tempita template (.pyx.tp) into the .pyx that Cython compiles.

Usage: python generate_pyx.py TEMPLATE OUTPUT
"""

import sys

from Cython import Tempita


def main(template_path: str, output_path: str) -> None:
    with open(template_path, encoding="utf-8") as f:
        template = Tempita.Template(f.read(), name=template_path)
    with open(output_path, "w", encoding="utf-8") as f:
        f.write(template.substitute())


if __name__ == "__main__":
    main(*sys.argv[1:])
