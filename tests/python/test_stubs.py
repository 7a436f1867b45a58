"""The type stubs describe what the modules really have."""

import ast
import inspect
import pathlib

import vyxzeb
from vyxzeb import _vyxzeb

PACKAGE = pathlib.Path(vyxzeb.__file__).parent


def stub_names(stub, within=None):
    """Public names a stub declares at its top level, or in class `within`."""
    tree = ast.parse((PACKAGE / stub).read_text())
    body = tree.body
    if within:
        body = next(n for n in body if isinstance(n, ast.ClassDef) and n.name == within).body
    names = set()
    for node in body:
        if isinstance(node, (ast.FunctionDef, ast.ClassDef)):
            names.add(node.name)
        elif isinstance(node, ast.AnnAssign):
            names.add(node.target.id)
    return {n for n in names if not n.startswith("_") or n == "__init__"} - {"__init__"}


def public(obj):
    return {n for n in dir(obj) if not n.startswith("_")}


def test_the_extension_stub_matches_the_extension():
    assert stub_names("_vyxzeb.pyi") == public(_vyxzeb)
    for cls in ("FrameHold", "CameraCore"):
        assert stub_names("_vyxzeb.pyi", cls) == public(getattr(_vyxzeb, cls)), cls


def test_the_camera_stub_matches_the_camera():
    assert stub_names("camera.pyi", "Camera") == public(vyxzeb.Camera)


def test_public_names_are_documented():
    for name in vyxzeb.__all__:
        obj = getattr(vyxzeb, name)
        assert inspect.getdoc(obj), name
    for name in public(vyxzeb.Camera):
        assert inspect.getdoc(getattr(vyxzeb.Camera, name)), name
