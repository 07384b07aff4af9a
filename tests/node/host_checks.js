// The checks of the Node suite: real Node.js for Windows, under Wine, as
// corvel's host, through the calls of the README's Node example. One check a
// run: node host_checks.js CHECK CORVEL IDENTIFIER [HOST_EXE]. It prints one
// JSON line; the Python side, which plays the device, judges it.
//
// Host and device meet in the byte stream: the host sends "S", the device
// answers "S", and only then does the check's traffic begin, so both know that
// the port is open.
const { execFileSync, spawn } = require("child_process");
const crypto = require("crypto");
const path = require("path");
const { findPorts, openBridge } = require("../../examples/node/host.js");

const ABSENT = "0x12345678";  // an identifier with no device
const NO_SUCH_PORT = 97;
const HOST_SCRIPT = 'process.stdin.on("end", () => process.exit(0)); process.stdin.resume();'
  + ' process.stdout.write("ready\\n");';

function sha256(bytes) {
  return crypto.createHash("sha256").update(bytes).digest("hex");
}

// Follows a bridge's stdout and its end, as a host does.
function watch(bridge) {
  const seen = { chunks: [], count: 0, waiters: [] };
  bridge.stdout.on("data", (chunk) => {
    seen.chunks.push(chunk);
    seen.count += chunk.length;
    seen.waiters = seen.waiters.filter((waiter) => !waiter());
  });
  seen.bytes = () => Buffer.concat(seen.chunks);
  seen.atLeast = (count) => new Promise((resolve) => {
    const waiter = () => seen.count >= count && (resolve(Date.now()), true);
    if (!waiter()) seen.waiters.push(waiter);
  });
  seen.started = Date.now();
  seen.closed = new Promise((resolve) => bridge.on("close", (code) => resolve({ code, at: Date.now() })));
  return seen;
}

async function handshake(bridge, seen) {
  bridge.stdin.write("S");
  let answered = false;
  const early = seen.closed.then((end) => {
    if (!answered) throw new Error(`the bridge ended with exit code ${end.code} before the handshake`);
  });
  await Promise.race([seen.atLeast(1).then(() => { answered = true; }), early]);
  if (seen.bytes()[0] !== 0x53) throw new Error(`handshake answered ${seen.bytes().toString("hex")}`);
}

function onlyPort(corvel, identifier) {
  const ports = findPorts(corvel, identifier);
  if (ports.length !== 1) throw new Error(`getUSBPort gave ports ${JSON.stringify(ports)}`);
  return ports[0];
}

async function openWatched(corvel, identifier) {
  const bridge = openBridge(corvel, onlyPort(corvel, identifier));
  const seen = watch(bridge);
  await handshake(bridge, seen);
  return { bridge, seen };
}

async function ended(bridge, seen) {
  bridge.kill();
  return seen.closed;
}

function ending(bridge, seen) {
  return seen.closed.then((end) => ({ code: end.code, bytes: seen.count, ms: end.at - seen.started }));
}

const checks = {
  async lookup(corvel, identifier) {
    return {
      ports: findPorts(corvel, identifier),
      absent: findPorts(corvel, ABSENT),
      raw: execFileSync(corvel, ["getUSBPort", identifier, ABSENT]).toString("latin1"),
    };
  },

  // The host sends every byte value once; the device answers with every
  // value, highest first.
  async everyByte(corvel, identifier) {
    const { bridge, seen } = await openWatched(corvel, identifier);
    bridge.stdin.write(Buffer.from(Array.from({ length: 256 }, (_, value) => value)));
    await seen.atLeast(1 + 256);
    const received = seen.bytes().subarray(1);
    await ended(bridge, seen);
    return { received: received.toString("hex") };
  },

  // 1 MiB each way at the same time.
  async mebibyte(corvel, identifier) {
    const size = 1 << 20;
    const upstream = crypto.randomBytes(size);
    const { bridge, seen } = await openWatched(corvel, identifier);
    const started = Date.now();
    bridge.stdin.write(upstream);
    await seen.atLeast(1 + size);
    const seconds = (Date.now() - started) / 1000;
    const downstream = seen.bytes().subarray(1);
    await ended(bridge, seen);
    return { sent: sha256(upstream), received: sha256(downstream), receivedCount: downstream.length, seconds };
  },

  // stdin ended by the host; the device goes on talking a while later.
  async stdinEnd(corvel, identifier, _hostExe, expected) {
    const { bridge, seen } = await openWatched(corvel, identifier);
    bridge.stdin.end();
    const endedAt = Date.now();
    await seen.atLeast(1 + Number(expected));
    const received = seen.bytes().subarray(1);
    await ended(bridge, seen);
    return { endedAt, received: received.toString("latin1") };
  },

  // The host is a second Node process, under its own executable name; this
  // one, its parent, sees the bridge end once that host has ended.
  async hostEnd(corvel, identifier, hostExe) {
    const host = spawn(hostExe, ["-e", HOST_SCRIPT], { stdio: ["pipe", "pipe", "ignore"] });
    const hostEnded = new Promise((resolve) => host.on("exit", (code) => resolve({ code, at: Date.now() })));
    await new Promise((resolve) => host.stdout.once("data", resolve));
    const bridge = openBridge(corvel, onlyPort(corvel, identifier), path.basename(hostExe));
    const seen = watch(bridge);
    await handshake(bridge, seen);
    host.stdin.end();
    const hostEnd = await hostEnded;
    const bridgeEnd = await seen.closed;
    return { host: hostEnd.code, code: bridgeEnd.code, ms: bridgeEnd.at - hostEnd.at };
  },

  // A port that does not exist. (A busy one cannot be made here: Wine does
  // not refuse a second open of a serial device, whatever the share mode.)
  async missingPort(corvel) {
    const missing = openBridge(corvel, NO_SUCH_PORT);
    return ending(missing, watch(missing));
  },

  // The device sends its last words and goes away.
  async vanish(corvel, identifier) {
    const { bridge, seen } = await openWatched(corvel, identifier);
    const end = await seen.closed;
    return { code: end.code, at: end.at, received: seen.bytes().subarray(1).toString("hex") };
  },
};

const [check, corvel, identifier, hostExe, extra] = process.argv.slice(2);
checks[check](corvel, identifier, hostExe, extra).then(
  (result) => process.stdout.write(JSON.stringify(result) + "\n"),
  (error) => {
    process.stdout.write(JSON.stringify({ error: String(error.stack || error) }) + "\n");
    process.exitCode = 1;
  });
