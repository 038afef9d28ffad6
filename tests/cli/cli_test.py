"""zelto end to end. Usage: cli_test.py ZELTO ZELTO_SIM [unittest arguments]"""
import os
import pathlib
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import tty
import unittest

ZELTO, SIM = sys.argv[1], sys.argv[2]


def zelto(*args, stdin=None, user=None):
    prefix = ["setpriv", f"--reuid={user}", f"--regid={user}", "--clear-groups"] if user else []
    return subprocess.run(prefix + [ZELTO, *args], input=stdin, capture_output=True, text=True,
                          timeout=60)


class Program:
    """A program that prints a device on its first line, then lines read by a thread."""

    def __init__(self, *args):
        self.proc = subprocess.Popen(list(args), stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     text=True)
        self.device = self.proc.stdout.readline().strip()
        self.lines = []
        self.reader = threading.Thread(target=lambda: self.lines.extend(self.proc.stdout))
        self.reader.start()

    def stop(self, sig=signal.SIGTERM):
        self.proc.send_signal(sig)
        status = self.proc.wait(10)
        self.reader.join()
        self.proc.stdin.close()
        self.proc.stdout.close()
        return status

    def __enter__(self):
        return self

    def __exit__(self, *_):
        if self.proc.poll() is None:
            self.stop()


def signal_blocked(pid, sig):
    with open(f"/proc/{pid}/status") as status:
        mask = next(int(line.split()[1], 16) for line in status if line.startswith("SigBlk:"))
    return bool(mask & (1 << (sig - 1)))


def raw_terminal(path):
    fd = os.open(path, os.O_RDWR | os.O_NOCTTY)
    tty.setraw(fd)
    return fd


def read_exactly(fd, count, limit=5.0):
    got, deadline = b"", time.monotonic() + limit
    while len(got) < count and time.monotonic() < deadline:
        os.set_blocking(fd, False)
        try:
            got += os.read(fd, count - len(got))
        except BlockingIOError:
            time.sleep(0.005)
    return got


def make_tree(root):
    """A sysfs and /dev with a USB adapter, a UART, an 8250 placeholder and a console."""
    files = {
        "sys/devices/pci0/usb1/1-2/idVendor": "0403", "sys/devices/pci0/usb1/1-2/idProduct": "6001",
        "sys/devices/pci0/usb1/1-2/serial": "A50285BI",
        "sys/devices/pci0/usb1/1-2/manufacturer": "FTDI",
        "sys/devices/pci0/usb1/1-2/product": "FT232R USB UART",
        "sys/class/tty/ttyS0/type": "4", "sys/class/tty/ttyS1/type": "0",
        "sys/class/tty/tty0/dev": "4:0", "dev/ttyUSB0": "", "dev/ttyS0": "",
    }
    links = {
        "sys/devices/pci0/usb1/1-2/1-2:1.0/ttyUSB0/driver": "../../../../../bus/usb-serial/drivers/ftdi_sio",
        "sys/class/tty/ttyUSB0/device": "../../../devices/pci0/usb1/1-2/1-2:1.0/ttyUSB0",
        "sys/devices/pnp0/00:00/driver": "../../../bus/pnp/drivers/serial",
        "sys/devices/pnp0/00:00/00:00.0/driver": "../../../../bus/serial-base/drivers/port",
        "sys/devices/pnp0/00:00/00:00.0/subsystem": "../../../../bus/serial-base",
        "sys/class/tty/ttyS0/device": "../../../devices/pnp0/00:00/00:00.0",
        "sys/class/tty/ttyS1/device": "../../../devices/platform/serial8250",
        "dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0": "../../ttyUSB0",
    }
    for path in ["sys/devices/platform/serial8250", "sys/bus/usb-serial/drivers/ftdi_sio",
                 "sys/bus/pnp/drivers/serial", "sys/bus/serial-base/drivers/port"]:
        (root / path).mkdir(parents=True)
    for path, text in files.items():
        (root / path).parent.mkdir(parents=True, exist_ok=True)
        (root / path).write_text(text + "\n" if text else "")
    for path, target in links.items():
        (root / path).parent.mkdir(parents=True, exist_ok=True)
        (root / path).symlink_to(target)
    os.chown(root / "dev/ttyUSB0", 0, 20)  # the dialout group of Debian
    os.chmod(root / "dev/ttyUSB0", 0o660)
    os.chmod(root / "dev/ttyS0", 0o600)
    for d in [root, *root.rglob("*")]:
        if d.is_dir() and not d.is_symlink():
            d.chmod(0o755)


class Ports(unittest.TestCase):
    def test_fake_tree(self):
        if os.geteuid() != 0:
            self.skipTest("needs root to give the device nodes an owner and to run as nobody")
        with tempfile.TemporaryDirectory() as tmp:
            root = pathlib.Path(tmp)
            make_tree(root)
            usb_block = (f"{tmp}/dev/ttyUSB0\n"
                         f"  by-id     {tmp}/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0\n"
                         "  usb id    0403:6001\n  serial    A50285BI\n  maker     FTDI\n"
                         "  product   FT232R USB UART\n  driver    ftdi_sio\n")
            uart_block = f"{tmp}/dev/ttyS0 (port 1)\n  driver    serial\n"
            for user, usb_access, uart_access in [
                (None, "yes", "yes"),
                ("65534", "no: join the group dialout: sudo usermod -aG dialout $USER, then log in again",
                 "no: an administrator has to give read and write access (a udev rule)"),
            ]:
                with self.subTest(user=user):
                    r = zelto("ports", "--sysfs", f"{tmp}/sys", "--dev", f"{tmp}/dev", user=user)
                    self.assertEqual((r.returncode, r.stderr), (0, ""))
                    self.assertEqual(r.stdout, f"{uart_block}  access    {uart_access}\n"
                                               f"{usb_block}  access    {usb_access}\n")

    def test_no_ports(self):
        with tempfile.TemporaryDirectory() as tmp:
            r = zelto("ports", "--sysfs", tmp, "--dev", tmp)
            self.assertEqual((r.returncode, r.stdout), (0, "No serial ports found.\n"))


class Board(unittest.TestCase):
    """ping, call, shell and watch on the in-process board and on the simulator's terminal."""

    def each_port(self, check):
        check("sim", None, 0)
        with Program(SIM, "--analog", "0=512") as sim:
            check(sim.device, sim, 512)

    def test_ping_call_shell_watch(self):
        def check(port, sim, reading):
            with self.subTest(port=port):
                r = zelto("ping", port)
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertRegex(r.stdout, rf"^{port}: the board answered in \d+\.\d{{3}} ms")

                r = zelto("call", port, "A2D", "0;", "led=True", ";", "eeprom 5 = 200", ";",
                          "eeprom", "5;", "a2d x;", "ok")
                self.assertEqual(r.stdout, f"a2d 0 -> {reading} (Long)\nled=True -> done\n"
                                           "eeprom 5=200 -> done\neeprom 5 -> 200 (Long)\n")
                self.assertEqual((r.returncode, r.stderr), (1, "zelto: a2d x: error 13: Type mismatch\n"))

                r = zelto("shell", port, stdin="ok\n# note\n\npins=5; pins\nnosuch 1\nled\nquit\nok\n")
                self.assertEqual(r.stdout, "ok -> True (Boolean)\npins=5 -> done\npins -> 5 (Long)\n")
                self.assertEqual(r.stderr, "zelto: nosuch 1: error 438: Object doesn't support this "
                                           "property or method\nzelto: led: error 393: Get not "
                                           "supported at runtime\n")
                self.assertEqual(r.returncode, 1)

                r = zelto("watch", port, "--count", "3", "--interval", "100", "--csv", "--fahrenheit")
                rows = [line.split(",") for line in r.stdout.splitlines()]
                self.assertEqual(rows[0], ["seconds", "reading", "fahrenheit"])
                degrees = "250.2" if reading else "0.0"
                self.assertEqual([row[1:] for row in rows[1:]], [[str(reading), degrees]] * 3)
                self.assertGreaterEqual(float(rows[3][0]) - float(rows[1][0]), 0.19)
                if sim:
                    for text in ["a2d pin 0 -> 02 00", "led on", "eeprom write 200 at 5",
                                 "eeprom read at 5 -> C8", "pins set 5"]:
                        self.assertTrue(any(text in line for line in sim.lines), text)
        self.each_port(check)

    def test_watch_ends_on_interrupt_with_the_port_closed(self):
        with Program(SIM, "--analog", "0=512") as sim:
            watch = Program(ZELTO, "watch", sim.device, "--interval", "20")
            while len(watch.lines) < 2:
                time.sleep(0.01)
            self.assertEqual(watch.stop(signal.SIGINT), 0)
            # The first reading comes at once; a loaded machine may take a millisecond or so.
            self.assertRegex(watch.device, r"^0\.0\d\d s\s+512$")
            self.assertEqual(zelto("ping", sim.device).returncode, 0)

    def test_watch_ends_on_interrupt_during_a_silent_boards_opening(self):
        with Program(SIM, "--silent") as silent:
            watch = subprocess.Popen([ZELTO, "watch", silent.device], stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, text=True)
            # Once it takes signals itself, the opening waits for ten answers that do not come.
            while not signal_blocked(watch.pid, signal.SIGINT):
                time.sleep(0.01)
            time.sleep(0.2)
            start = time.monotonic()
            watch.send_signal(signal.SIGINT)
            out, err = watch.communicate(timeout=10)
            self.assertLess(time.monotonic() - start, 0.5)
            self.assertEqual((watch.returncode, out, err), (0, "", ""))

    def test_errors(self):
        with Program(SIM, "--silent") as silent:
            for args, status, out, *stdin in [
                (["ping", silent.device], 1, f"{silent.device}: no answer from the board"),
                (["ping", "/dev/zelto-none"], 1, "zelto: /dev/zelto-none: error 8101: No such serial port"),
                (["ping", "0"], 1, "zelto: 0: error 8107: Invalid serial port number"),
                (["call", "sim", "ready=1"], 1, "zelto: ready=1: error 387: Set not permitted"),
                (["call", "sim", "a2d 0 = 1 2"], 1, "zelto: a2d 0 = 1 2: error 450: Wrong number"),
                (["watch", "sim", "--interval", "0"], 2, "--interval: Value 0 not in range"),
                (["call", "sim", 'high 0; led="1'], 2, 'zelto: high 0; led="1: a quote is not closed'),
                (["call", "sim", 'a2d "0'], 2, "a quote is not closed"),
                (["call", "sim", ";"], 2, "zelto: ;: no call"),
                (["shell", "sim"], 2, "a quote is not closed", 'high 0\nled="1\nok\n'),
                (["shell", "sim"], 2, "zelto: ok: a NUL byte in the line", "ok\0\n"),
                (["bogus"], 2, "zelto: unknown subcommand 'bogus'"),
                (["watch", "sim", "--count", "-1"], 2, "--count: Value -1 not in range 0 to 1000000000"),
                (["watch", "sim", "--interval", "abc"], 2, "--interval: Failed parsing abc"),
                (["ping", "40000"], 1, "zelto: 40000: error 6: Overflow"),
            ]:
                with self.subTest(args=args):
                    r = zelto(*args, stdin=stdin[0] if stdin else None)
                    self.assertEqual(r.returncode, status)
                    self.assertIn(out, r.stdout + r.stderr)
                    if status == 2 and args[0] == "call":
                        self.assertEqual(r.stdout, "", "a call ran")
            folder = os.open("/", os.O_RDONLY)
            try:
                r = subprocess.run([ZELTO, "shell", "sim"], stdin=folder, capture_output=True,
                                   text=True, timeout=60)
            finally:
                os.close(folder)
            self.assertEqual((r.returncode, r.stderr),
                             (2, "zelto: the calls cannot be read from a folder\n"))


class Spy(unittest.TestCase):
    def test_every_byte_to_the_simulator_and_its_answers(self):
        stream = bytes(range(256))
        with Program(SIM, "--analog", "0=1023", "--analog", "3=128") as sim:
            with Program(ZELTO, "spy", sim.device) as spy:
                client = raw_terminal(spy.device)
                os.write(client, stream)
                time.sleep(0.5)
                answers = read_exactly(client, 1000, limit=0.5)
                os.close(client)
                self.assertEqual(spy.stop(signal.SIGINT), 0)
            sim.stop()
        fields = [line.rstrip("\n") for line in sim.lines]
        board_got = bytes.fromhex("".join(line[:12] for line in fields))
        # Only a command still waiting for its data bytes at the end is not logged.
        self.assertEqual(board_got, stream[:len(board_got)])
        self.assertGreater(len(board_got), 250)
        replies = "".join(line.split(" -> ")[1] for line in fields if " -> " in line)
        self.assertEqual(answers, bytes.fromhex(replies))
        self.assertGreater(len(answers), 10)
        # A spy line without its time is what the simulator prints for the same command.
        self.assertEqual([line.rstrip("\n").split("  ", 1)[1] for line in spy.lines], fields)

    def test_an_answer_the_client_got_is_printed_however_soon_it_ends(self):
        with Program(SIM) as sim:
            for attempt in range(10):
                with self.subTest(attempt=attempt), Program(ZELTO, "spy", sim.device) as spy:
                    client = raw_terminal(spy.device)
                    os.write(client, b"\x01")
                    self.assertEqual(read_exactly(client, 1), b"\x33")
                    self.assertEqual(spy.stop(signal.SIGINT), 0)
                    os.close(client)
                    self.assertEqual([line.split("  ", 1)[1].rstrip("\n") for line in spy.lines],
                                     ["01          ok -> 33"])

    def test_a_board_on_the_network(self):
        """The board's side served over RFC 2217 by ser2net."""
        server = shutil.which("ser2net", path="/usr/sbin:/usr/bin")
        if not server:
            self.skipTest("ser2net is not installed: the network port is not tried")
        with Program(SIM) as sim, tempfile.TemporaryDirectory() as folder:
            with socket.socket() as s:
                s.bind(("127.0.0.1", 0))
                port = s.getsockname()[1]
            config = os.path.join(folder, "ser2net.yaml")
            with open(config, "w") as f:
                f.write(f"%YAML 1.1\n---\nconnection: &board\n"
                        f"    accepter: telnet(rfc2217),tcp,127.0.0.1,{port}\n"
                        f"    connector: serialdev,{sim.device},57600n81,local\n")
            ser2net = subprocess.Popen([server, "-n", "-c", config], stderr=subprocess.DEVNULL)
            try:
                url = f"rfc2217://127.0.0.1:{port}"
                while zelto("ping", url).returncode != 0 and ser2net.poll() is None:
                    time.sleep(0.05)
                with Program(ZELTO, "spy", url) as spy:
                    client = raw_terminal(spy.device)
                    os.write(client, b"\x01\x30")
                    self.assertEqual(read_exactly(client, 3), b"\x33\x00\x00")
                    os.close(client)
                    self.assertEqual(spy.stop(signal.SIGINT), 0)
                self.assertEqual([line.split("  ", 1)[1].rstrip("\n") for line in spy.lines],
                                 ["01          ok -> 33", "30          a2d pin 0 -> 00 00"])
            finally:
                ser2net.terminate()
                ser2net.wait(10)

    def test_every_byte_from_the_board(self):
        board, board_end = os.openpty()
        tty.setraw(board)
        with Program(ZELTO, "spy", os.ttyname(board_end)) as spy:
            client = raw_terminal(spy.device)
            os.write(board, bytes(range(256)))
            self.assertEqual(read_exactly(client, 256), bytes(range(256)))
            os.write(client, bytes(range(255, -1, -1)))
            self.assertEqual(read_exactly(board, 256), bytes(range(255, -1, -1)))
            os.close(client)
            self.assertEqual(spy.stop(signal.SIGINT), 0)
        self.assertIn(" [not asked for]", spy.lines[0])
        os.close(board)
        os.close(board_end)

    def test_a_hang_up_ends_it_with_the_link_removed(self):
        board, board_end = os.openpty()
        with tempfile.TemporaryDirectory() as folder:
            link = os.path.join(folder, "client")
            with Program(ZELTO, "spy", os.ttyname(board_end), "--link", link) as spy:
                self.assertTrue(os.path.islink(link))
                self.assertEqual(spy.stop(signal.SIGHUP), 0)
            self.assertFalse(os.path.lexists(link))
        os.close(board)
        os.close(board_end)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], *sys.argv[3:]])
