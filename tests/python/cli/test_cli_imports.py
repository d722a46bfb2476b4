"""The command line is a client of the public layer: no private module, no import circle."""

import ast
from pathlib import Path

import ferrule.cli

CLI = Path(ferrule.cli.__file__).parent
PUBLIC = {"ferrule", "ferrule.xarray", "ferrule.kestrel"}


def imports(path: Path) -> set[str]:
    """Every ferrule module a file imports, at any depth of the file (lazy imports too)."""
    found = set()
    for node in ast.walk(ast.parse(path.read_text())):
        if isinstance(node, ast.Import):
            found |= {alias.name for alias in node.names}
        elif isinstance(node, ast.ImportFrom) and node.module:
            found.add(node.module)
            if node.module == "ferrule.cli":  # `from ferrule.cli import grid_run`
                found |= {f"ferrule.cli.{a.name}" for a in node.names
                          if (CLI / f"{a.name}.py").is_file()}  # fmt: skip
    return {name for name in found if name == "ferrule" or name.startswith("ferrule.")}


MODULES = {path: imports(path) for path in sorted(CLI.glob("*.py"))}


def test_the_command_line_imports_only_public_modules():
    private = {
        path.name: sorted(n for n in names if n not in PUBLIC and not n.startswith("ferrule.cli"))
        for path, names in MODULES.items()
    }
    assert {name: found for name, found in private.items() if found} == {}


def test_the_command_line_modules_import_each_other_without_a_circle():
    graph = {
        f"ferrule.cli.{path.stem}": {n for n in names if n.startswith("ferrule.cli.")}
        for path, names in MODULES.items()
    }
    state: dict[str, str] = {}

    def visit(module: str, trail: tuple[str, ...]) -> None:
        if state.get(module) == "done":
            return
        assert module not in trail, " -> ".join((*trail, module))
        for target in graph.get(module, ()):
            visit(target, (*trail, module))
        state[module] = "done"

    for module in graph:
        visit(module, ())
