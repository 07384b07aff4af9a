// A Node host of corvel: finds the device's COM port, bridges it, and acts on
// the bridge's exit code. Run it under your program's own executable name.
const { execFileSync, spawn } = require("child_process");
const path = require("path");

const PORT_UNUSABLE = 2;  // the port is missing or busy: nothing was bridged
const PORT_LOST = 3;      // the device went away while bridging

// The COM port numbers under which the device is present now; [] when absent.
function findPorts(corvel, identifier) {
  // Node's default pipes give it a stdin of its own, not this console (see the
  // README); no console window when this host is a GUI program.
  const out = execFileSync(corvel, ["getUSBPort", identifier], { windowsHide: true });
  // out is a Buffer: "0x57400483 7\n"
  const lines = out.toString("latin1").split("\n").filter((line) => line !== "");
  return lines.map((line) => Number(line.slice(line.lastIndexOf(" ") + 1)))
    .filter((port) => port !== 0);
}

// corvel bridging COM<port> until its host ends: the nearest process above it
// named `host` (this one by default). Bytes written to its stdin go to the
// device, unchanged, and what the device sends comes out of its stdout.
function openBridge(corvel, port, host = path.basename(process.execPath)) {
  return spawn(corvel, ["open", host, String(port)],
    { stdio: ["pipe", "pipe", "ignore"], windowsHide: true });
}

function talk(corvel, identifier) {
  const ports = findPorts(corvel, identifier);
  if (ports.length === 0) return console.error("device absent");
  const bridge = openBridge(corvel, ports[0]);
  bridge.stdout.on("data", (chunk) => console.log("device says", chunk));
  bridge.stdin.write(Buffer.from("PING\n"));
  // "close", not "exit": it comes once the last bytes from the device are read.
  bridge.on("close", (code) => {
    if (code === PORT_LOST) setTimeout(talk, 1000, corvel, identifier);  // it may come back as a new port
    else if (code === PORT_UNUSABLE) console.error("serial port missing or busy");
  });
}

module.exports = { findPorts, openBridge, PORT_UNUSABLE, PORT_LOST };
if (require.main === module) talk(path.join(__dirname, "corvel_x64.exe"), "0x57400483");
