"""The I/O board from Python, through libostrelzelto.so.1 (the board object's C interface).

    import ostrelzelto
    with ostrelzelto.Board("/dev/ttyUSB0") as board:
        print(board.a2d(0))

A Board's members are the board object's own, made from its member list: methods (board.a2d(0)),
properties (board.tris = 15) and indexed properties (board.eeprom[300] = 90, board.eeprom[300] or
board.eeprom(300)). Arguments are converted by the board object's rules; a failing member raises
ZeltoError with the error number and text. The library is found by its name
(libostrelzelto.so.1), or at the path in the environment variable OSTRELZELTO_LIBRARY.
"""

import collections
import ctypes
import inspect
import math
import os
import threading
import weakref

__all__ = ["Board", "ZeltoError", "Null", "list_ports", "members"]

_METHOD, _GET, _PUT = 0, 1, 2
_EMPTY, _NULL, _BOOLEAN, _INTEGER, _LONG, _DOUBLE, _STRING, _VARIANT = range(8)
_TYPE_NAMES = {_INTEGER: "Integer", _LONG: "Long", _BOOLEAN: "Boolean", _VARIANT: "Variant"}


class ZeltoError(Exception):
    """An automation error of the board object: .number and .text."""

    def __init__(self, number, text):
        super().__init__(f"error {number}: {text}")
        self.number = number
        self.text = text


class _NullType:
    """The automation value Null (None passes Empty)."""

    def __repr__(self):
        return "Null"


Null = _NullType()


class _Value(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int32), ("integer", ctypes.c_int32),
                ("real", ctypes.c_double), ("text", ctypes.c_char_p)]


class _Member(ctypes.Structure):
    _fields_ = [("name", ctypes.c_char_p), ("dispid", ctypes.c_int32), ("kind", ctypes.c_int32),
                ("result", ctypes.c_int32), ("param_count", ctypes.c_int32)]


_PORT_TEXTS = ["device", "port_number", "by_id", "vendor_id", "product_id", "serial",
               "manufacturer", "product", "driver", "may_open", "remedy"]


class _Port(ctypes.Structure):
    _fields_ = [(name, ctypes.c_int32 if name in ("port_number", "may_open") else ctypes.c_char_p)
                for name in _PORT_TEXTS]


Port = collections.namedtuple("Port", _PORT_TEXTS)


def _load():
    lib = ctypes.CDLL(os.environ.get("OSTRELZELTO_LIBRARY") or "libostrelzelto.so.1")
    p, i32, value_p = ctypes.c_void_p, ctypes.c_int32, ctypes.POINTER(_Value)
    for name, result, args in [
        ("oz_board_create_device", p, [ctypes.c_char_p]),
        ("oz_board_create_port", p, [i32]),
        ("oz_board_create_simulated", p, []),
        ("oz_board_destroy", None, [p]),
        ("oz_board_interrupt", None, [p]),
        ("oz_member_count", i32, []),
        ("oz_member_get", i32, [i32, ctypes.POINTER(_Member)]),
        ("oz_member_param", i32, [i32, i32, ctypes.POINTER(ctypes.c_char_p),
                                  ctypes.POINTER(i32)]),
        ("oz_last_error", i32, []),
        ("oz_last_error_text", ctypes.c_char_p, []),
        ("oz_ports_list", p, []),
        ("oz_ports_count", i32, [p]),
        ("oz_ports_get", ctypes.POINTER(_Port), [p, i32]),
        ("oz_ports_free", None, [p]),
    ]:
        f = getattr(lib, name)
        f.restype, f.argtypes = result, args
    # Called with a handle, whole numbers and pointers made once per board: without declared
    # argument types ctypes converts nothing, which halves the cost of a call.
    lib.oz_call.restype = i32
    return lib


_lib = _load()


def _raise_last():
    raise ZeltoError(_lib.oz_last_error(), _lib.oz_last_error_text().decode("utf-8", "replace"))


def _set(slot, value):
    if value is None:
        slot.type = _EMPTY
    elif value is Null:
        slot.type = _NULL
    elif isinstance(value, bool):
        slot.type, slot.integer = _BOOLEAN, value
    elif isinstance(value, int) and -2**31 <= value < 2**31:
        slot.type, slot.integer = _LONG, value
    elif isinstance(value, (int, float)):
        # A whole number beyond 32 bits goes as a double, one beyond a double as infinity: the
        # board object decides on overflow.
        try:
            real = float(value)
        except OverflowError:
            real = math.inf if value > 0 else -math.inf
        slot.type, slot.real = _DOUBLE, real
    elif isinstance(value, str) and "\0" not in value:
        try:
            slot.type, slot.text = _STRING, value.encode("utf-8")
        except UnicodeEncodeError:  # a lone surrogate: no text the board object can take
            slot.type = -1
    else:
        # No automation type, or a text that a NUL would end early: the board object answers
        # with its type mismatch.
        slot.type = -1


def _get(v):
    t = v.type
    if t == _LONG or t == _INTEGER:
        return v.integer
    if t == _BOOLEAN:
        return bool(v.integer)
    if t == _DOUBLE:
        return v.real
    if t == _STRING:
        return v.text.decode("utf-8")
    return Null if t == _NULL else None


class Board:
    """The board object on a serial port: a device path (str) or a port number (int). The port is
    opened at once and closed by close() or at the end of a with block.

    A Board may be used from any number of threads: its members run one at a time, each with its
    own arguments and result, and a call made while another thread's member runs waits for it up
    to the link limit (5 s), then raises ZeltoError 8120.

    Ctrl-C ends a member that waits (a silent board, count with a long duration) within about
    100 ms with KeyboardInterrupt; the port stays open and usable, and bytes that the board sends
    late for the ended member are dropped before the next member runs.

    Its members cannot be replaced and it takes no other attributes: a misspelt property
    (board.trs = 15) is an AttributeError rather than a new attribute."""

    __slots__ = ("_handle", "_buffers", "_free", "__weakref__")

    def __init__(self, port):
        if isinstance(port, int) and not isinstance(port, bool):
            # A number beyond 32 bits is as far out of range as 0 is.
            handle = _lib.oz_board_create_port(port if -2**31 <= port < 2**31 else 0)
        else:
            path = os.fsencode(port)
            # A NUL would end the path early: such a path names no device, as an empty one does.
            handle = _lib.oz_board_create_device(b"" if b"\0" in path else path)
        self._adopt(handle)

    @classmethod
    def simulated(cls):
        """A board object on a simulated board inside the library, for trying it out and tests."""
        board = cls.__new__(cls)
        board._adopt(_lib.oz_board_create_simulated())
        return board

    def _adopt(self, handle):
        if not handle:
            _raise_last()
        self._handle = ctypes.c_void_p(handle)
        # Each thread has its own argument and result buffers: the library runs one member at a
        # time, but ctypes lets other threads run while a call waits.
        self._buffers = threading.local()
        self._free = weakref.finalize(self, _lib.oz_board_destroy, handle)
        self.portopen = True

    def _call(self, dispid, kind, args):
        if threading.current_thread() is not threading.main_thread():
            return self._call_here(dispid, kind, args)
        # Ctrl-C reaches the main thread only between Python steps, and a member may wait for a
        # silent board for a long time: the main thread's calls run on a helper thread while the
        # main thread waits where an interrupt can reach it, and then ends the member.
        return _helper.run(self, self._call_here, dispid, kind, args)

    def _call_here(self, dispid, kind, args):
        try:
            values, result, slots, result_slot = self._buffers.made
        except AttributeError:
            values, result = (_Value * 4)(), _Value()
            slots, result_slot = ctypes.byref(values), ctypes.byref(result)
            self._buffers.made = values, result, slots, result_slot
        n = len(args)
        if n > len(values):
            values = (_Value * n)()  # for this call alone
            slots = ctypes.byref(values)
        for slot, value in zip(values, args):
            _set(slot, value)
        if _lib.oz_call(self._handle, dispid, kind, slots, n, result_slot):
            _raise_last()
        return _get(result)

    def close(self):
        """Closes the port; members that need it then fail as on a closed port."""
        if self.portopen:
            self.portopen = False

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


class _Helper:
    """The thread that runs the main thread's calls, one at a time."""

    def __init__(self):
        self._lock = threading.Lock()
        self._go, self._done = threading.Lock(), threading.Lock()
        self._go.acquire()
        self._done.acquire()
        self._thread = None
        self._running = False

    def _serve(self):
        while True:
            self._go.acquire()
            call, args = self._job
            try:
                self._result = call(*args), None
            except BaseException as e:  # handed to the caller
                self._result = None, e
            self._done.release()

    def run(self, board, call, *args):
        with self._lock:
            if self._thread is None:
                self._thread = threading.Thread(target=self._serve, name="ostrelzelto",
                                                daemon=True)
                self._thread.start()
        if self._running:  # a call that an interrupt ended before it was over
            self._done.acquire()
        self._job, self._running = (call, args), True
        self._go.release()
        try:
            self._done.acquire()
        except KeyboardInterrupt:
            _lib.oz_board_interrupt(board._handle)
            self._done.acquire()
            self._running = False
            raise
        self._running = False
        (result, error), self._result = self._result, None
        if error is not None:
            raise error
        return result


_helper = _Helper()
# A child made by fork has no helper thread until it calls.
os.register_at_fork(after_in_child=_helper.__init__)


class _Indexed:
    """An indexed property of one board: board.eeprom[i], board.eeprom[i] = v, board.eeprom(i)."""

    __slots__ = ("_board", "_dispid")
    # Indexes are addresses, not a sequence: "in" and iterating would walk all 65,536 of them.
    __iter__ = None

    def __init__(self, board, dispid):
        self._board, self._dispid = board, dispid

    def _index(self, index):
        return index if isinstance(index, tuple) else (index,)

    def __call__(self, *index):
        return self._board._call(self._dispid, _GET, index)

    def __getitem__(self, index):
        return self._board._call(self._dispid, _GET, self._index(index))

    def __setitem__(self, index, value):
        self._board._call(self._dispid, _PUT, self._index(index) + (value,))


def _read_members():
    """{name: {kind: (dispid, [(parameter, type name)], result type name)}} from the library."""
    rows = {}
    for index in range(_lib.oz_member_count()):
        m = _Member()
        _lib.oz_member_get(index, ctypes.byref(m))
        params = []
        for n in range(m.param_count):
            name, kind = ctypes.c_char_p(), ctypes.c_int32()
            _lib.oz_member_param(index, n, ctypes.byref(name), ctypes.byref(kind))
            params.append((name.value.decode(), _TYPE_NAMES[kind.value]))
        rows.setdefault(m.name.decode(), {})[m.kind] = (m.dispid, params,
                                                       _TYPE_NAMES.get(m.result))
    return rows


def _describe(name, params, result):
    text = f"{name}({', '.join(f'{p}: {t}' for p, t in params)})"
    return text + (f" -> {result}" if result else "")


def _method(name, dispid, params, result):
    def call(self, *args):
        return self._call(dispid, _METHOD, args)

    call.__name__ = call.__qualname__ = name
    call.__doc__ = _describe(name, params, result)
    call.__signature__ = inspect.Signature(
        [inspect.Parameter("self", inspect.Parameter.POSITIONAL_ONLY)]
        + [inspect.Parameter(p, inspect.Parameter.POSITIONAL_ONLY) for p, _ in params])
    return call


def _property(name, kinds):
    get, put = kinds.get(_GET), kinds.get(_PUT)
    if get and get[1]:
        dispid = get[0]
        return property(lambda self: _Indexed(self, dispid),
                        doc=_describe(name + "[]", get[1], get[2]))

    def fget(self):
        return self._call(get[0], _GET, ())

    def fset(self, value):
        self._call(put[0], _PUT, (value,))

    doc = _describe(name, [], get[2] if get else None)
    return property(fget if get else None, fset if put else None, doc=doc)


def _generate():
    rows = _read_members()
    for name, kinds in rows.items():
        if _METHOD in kinds:
            setattr(Board, name, _method(name, *kinds[_METHOD]))
        else:
            setattr(Board, name, _property(name, kinds))
    return rows


_MEMBERS = _generate()


def members():
    """The board object's members, one line each, as help shows them."""
    return [getattr(Board, name).__doc__ for name in _MEMBERS]


def list_ports():
    """The machine's serial ports, as `zelto ports` lists them."""
    handle = _lib.oz_ports_list()
    if not handle:
        _raise_last()
    try:
        ports = []
        for index in range(_lib.oz_ports_count(handle)):
            p = _lib.oz_ports_get(handle, index).contents
            texts = {name: getattr(p, name) for name in _PORT_TEXTS}
            for name, value in texts.items():
                if isinstance(value, bytes):
                    texts[name] = os.fsdecode(value)
            texts["by_id"] = texts["by_id"].split("\n") if texts["by_id"] else []
            texts["may_open"] = bool(texts["may_open"])
            ports.append(Port(**texts))
        return ports
    finally:
        _lib.oz_ports_free(handle)
