"""Writes the typing stub of the package ostrelzelto (__init__.pyi) from the member list of the
library it loads: every member of Board with its parameters and result type, beside the package's
own names. Usage: make_stub.py OUT.pyi (with PYTHONPATH and OSTRELZELTO_LIBRARY set as for the
tests)."""
import sys

import ostrelzelto

_METHOD, _GET, _PUT = ostrelzelto._METHOD, ostrelzelto._GET, ostrelzelto._PUT
# What a parameter of each type takes and what a result of each type is.
_PYTHON = {"Integer": "int", "Long": "int", "Boolean": "bool", "Variant": "Value", None: "None"}

HEAD = '''"""Types of the package ostrelzelto, written from the member list of libostrelzelto.so.1."""
import os
from typing import Any, Generic, List, NamedTuple, NoReturn, Optional, TypeVar, Union

__all__ = ["Board", "ZeltoError", "Null", "list_ports", "members"]

_T = TypeVar("_T")

class _NullType: ...

Null: _NullType
# An automation value: None is Empty.
Value = Union[None, bool, int, float, str, _NullType]

class ZeltoError(Exception):
    number: int
    text: str
    def __init__(self, number: int, text: str) -> None: ...

class Port(NamedTuple):
    device: str
    port_number: int
    by_id: List[str]
    vendor_id: str
    product_id: str
    serial: str
    manufacturer: str
    product: str
    driver: str
    may_open: bool
    remedy: str

class _Indexed(Generic[_T]):
    """An indexed property: board.name[index], board.name[index] = value, board.name(index)."""
    def __call__(self, index: int, /) -> _T: ...
    def __getitem__(self, index: int) -> _T: ...
    def __setitem__(self, index: int, value: _T) -> None: ...

def list_ports() -> List[Port]: ...
def members() -> List[str]: ...

class Board:
    def __init__(self, port: Union[int, str, bytes, os.PathLike[str], os.PathLike[bytes]],
                 open: bool = ...) -> None: ...
    @classmethod
    def simulated(cls) -> "Board": ...
    def close(self) -> None: ...
    def __enter__(self) -> "Board": ...
    def __exit__(self, *exc: Any) -> Optional[bool]: ...
'''


def member_lines(name, kinds):
    doc = getattr(ostrelzelto.Board, name).__doc__
    if _METHOD in kinds:
        _, params, result = kinds[_METHOD]
        args = "".join(f", {p}: {_PYTHON[t]}" for p, t in params)
        return [f"    def {name}(self{args}, /) -> {_PYTHON[result]}:", f'        """{doc}"""']
    get, put = kinds.get(_GET), kinds.get(_PUT)
    if get and get[1]:
        if len(get[1]) != 1 or get[1][0][1] not in ("Integer", "Long"):
            raise SystemExit(f"{name}: an indexed property with other than one whole-number index")
        return [f"    {name}: _Indexed[{_PYTHON[get[2]]}]"]
    if get and put and _PYTHON[put[1][-1][1]] == _PYTHON[get[2]]:
        return [f"    {name}: {_PYTHON[get[2]]}"]
    lines = ["    @property", f"    def {name}(self) -> {_PYTHON[get[2]] if get else 'NoReturn'}:",
             f'        """{doc}"""']
    if put:
        lines += [f"    @{name}.setter",
                  f"    def {name}(self, value: {_PYTHON[put[1][-1][1]]}) -> None: ..."]
    return lines


def main():
    lines = HEAD.splitlines()
    for name, kinds in ostrelzelto._MEMBERS.items():
        lines += member_lines(name, kinds)
    with open(sys.argv[1], "w") as out:
        out.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
