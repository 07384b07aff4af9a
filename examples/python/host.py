# A Python host of corvel: finds the device's COM port, bridges it, and acts on
# the bridge's exit code. Run it under your program's own executable name.
import os, subprocess, sys, time

PORT_UNUSABLE = 2  # the port is missing or busy: nothing was bridged
PORT_LOST = 3      # the device went away while bridging


def find_ports(corvel, identifier):
    """The COM port numbers under which the device is present now; [] when absent."""
    # stdin of its own, not this console (see the README); no console window
    # when this host is a GUI program.
    out = subprocess.run([corvel, "getUSBPort", identifier], stdin=subprocess.DEVNULL,
                         capture_output=True, check=True,
                         creationflags=subprocess.CREATE_NO_WINDOW).stdout
    ports = [int(line.rsplit(b" ", 1)[1]) for line in out.splitlines()]  # b"0x57400483 7\n"
    return [port for port in ports if port != 0]


def open_bridge(corvel, port, host=os.path.basename(sys.executable)):
    """corvel bridging COM<port> until its host ends: the nearest process above it
    named `host` (this one by default). Bytes written to its stdin go to the
    device, unchanged, and what the device sends comes out of its stdout."""
    return subprocess.Popen([corvel, "open", host, str(port)], stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, bufsize=0,
                            creationflags=subprocess.CREATE_NO_WINDOW)


def talk(corvel, identifier):
    while True:
        ports = find_ports(corvel, identifier)
        if not ports:
            return print("device absent", file=sys.stderr)
        bridge = open_bridge(corvel, ports[0])
        bridge.stdin.write(b"PING\n")
        while chunk := bridge.stdout.read(4096):  # b"" once the bridge has ended
            print("device says", chunk)
        code = bridge.wait()
        if code == PORT_LOST:
            time.sleep(1)  # it may come back as a new port: look it up again
            continue
        if code == PORT_UNUSABLE:
            print("serial port missing or busy", file=sys.stderr)
        return


if __name__ == "__main__":
    talk(os.path.join(os.path.dirname(sys.executable), "corvel_x64.exe"), "0x57400483")
