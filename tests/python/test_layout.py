"""The package's layout: every module says its job, imports form no circle, and no module
but the registry's reader tells families apart by name."""

import ast
from pathlib import Path

import pytest

import ferrule
from ferrule import _core

PACKAGE = Path(ferrule.__file__).parent
MODULES = sorted(PACKAGE.rglob("*.py"))
REGISTRY_READER = "ferrule._names"


def module_name(path: Path) -> str:
    parts = path.relative_to(PACKAGE.parent).with_suffix("").parts
    return ".".join(parts[:-1] if parts[-1] == "__init__" else parts)


def parsed(path: Path) -> ast.Module:
    return ast.parse(path.read_text(encoding="utf-8"), filename=str(path))


def runtime_imports(path: Path) -> set[str]:
    """The ferrule modules `path` imports when it runs (lazy imports in functions too, the
    names imported only for type checkers left out)."""
    name = module_name(path)
    package = name if path.name == "__init__.py" else name.rpartition(".")[0]
    found, tree = set(), parsed(path)
    typing_only = {
        id(node)
        for branch in ast.walk(tree)
        if isinstance(branch, ast.If) and "TYPE_CHECKING" in ast.unparse(branch.test)
        for statement in branch.body
        for node in ast.walk(statement)
    }
    for node in ast.walk(tree):
        if id(node) in typing_only:
            continue
        if isinstance(node, ast.Import):
            found.update(alias.name for alias in node.names)
        elif isinstance(node, ast.ImportFrom):
            base = node.module or ""
            if node.level:
                parts = package.split(".")[: len(package.split(".")) - node.level + 1]
                base = ".".join([*parts, *filter(None, [node.module])])
            found.add(base)
            found.update(f"{base}.{alias.name}" for alias in node.names)
    known = {module_name(p) for p in MODULES}
    return {name for name in found if name in known} - {module_name(path)}


def test_every_module_opens_with_a_docstring_saying_its_job():
    lacking = [str(p.relative_to(PACKAGE)) for p in MODULES if not ast.get_docstring(parsed(p))]
    assert lacking == []


def test_the_imports_between_modules_form_no_circle():
    graph = {module_name(p): runtime_imports(p) for p in MODULES}
    assert graph["ferrule._grid.fit"] >= {"ferrule._grid.result", "ferrule._grid.input"}

    def circle_from(start, path, seen):
        for nxt in sorted(graph[path[-1]]):
            if nxt not in graph:
                continue
            if nxt == start:
                return [*path, start]
            if nxt not in seen:
                seen.add(nxt)
                if found := circle_from(start, [*path, nxt], seen):
                    return found
        return None

    circles = [c for name in graph if (c := circle_from(name, [name], set()))]
    assert circles == []


@pytest.mark.parametrize(
    ("layer", "forbidden"),
    [("ferrule._grid", "ferrule.xarray"), ("ferrule._grid", "ferrule.cli"),
     ("ferrule.xarray", "ferrule.cli"), ("ferrule._", "ferrule.cli")],
)  # fmt: skip
def test_a_lower_layer_does_not_import_a_higher_one(layer, forbidden):
    offenders = {
        module_name(p): sorted(n for n in runtime_imports(p) if n.startswith(forbidden))
        for p in MODULES
        if module_name(p).startswith(layer) and module_name(p) != "ferrule.__main__"
    }
    assert {name: found for name, found in offenders.items() if found} == {}


def family_words() -> set[str]:
    words = set()
    for info in _core.FAMILIES:
        words |= {info.key, info.title, *info.aliases, *info.transformation_names}
    return words


def test_no_module_but_the_registry_reader_compares_family_names():
    words = family_words()
    found = []
    for path in MODULES:
        if module_name(path) == REGISTRY_READER:
            continue
        for node in ast.walk(parsed(path)):
            if not isinstance(node, ast.Compare):
                continue
            for operand in (node.left, *node.comparators):
                if isinstance(operand, ast.Constant) and operand.value in words:
                    found.append(f"{path.relative_to(PACKAGE)}:{node.lineno} {operand.value!r}")
    assert found == []
