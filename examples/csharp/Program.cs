// A C# host of corvel: finds the device's COM port, bridges it, and acts on
// the bridge's exit code. Run it under your program's own executable name.
using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.IO;
using System.Linq;
using System.Threading;

const int PortUnusable = 2;  // the port is missing or busy: nothing was bridged
const int PortLost = 3;      // the device went away while bridging

Talk(Path.Combine(AppContext.BaseDirectory, "corvel_x64.exe"), "0x57400483");

// The COM port numbers under which the device is present now; empty when absent.
static List<int> FindPorts(string corvel, string identifier)
{
    // stdin of its own, not this console (see the README); no console window.
    var info = new ProcessStartInfo(corvel) {
        RedirectStandardInput = true, RedirectStandardOutput = true,
        UseShellExecute = false, CreateNoWindow = true };
    info.ArgumentList.Add("getUSBPort"); info.ArgumentList.Add(identifier);
    using Process lookup = Process.Start(info)!;
    lookup.StandardInput.Close();
    string text = lookup.StandardOutput.ReadToEnd();  // "0x57400483 7\n"
    lookup.WaitForExit();
    return text.Split('\n', StringSplitOptions.RemoveEmptyEntries)
        .Select(line => int.Parse(line[(line.LastIndexOf(' ') + 1)..]))
        .Where(port => port != 0).ToList();
}

// corvel bridging COM<port> until its host ends: the nearest process above it
// named `host` (this one by default). Bytes written to its stdin go to the
// device, unchanged, and what the device sends comes out of its stdout.
static Process OpenBridge(string corvel, int port, string? host = null)
{
    var info = new ProcessStartInfo(corvel) {
        RedirectStandardInput = true, RedirectStandardOutput = true,
        UseShellExecute = false, CreateNoWindow = true };
    info.ArgumentList.Add("open");
    info.ArgumentList.Add(host ?? Path.GetFileName(Environment.ProcessPath!));  // "MyApp.exe"
    info.ArgumentList.Add(port.ToString());
    return Process.Start(info)!;
}

static void Talk(string corvel, string identifier)
{
    while (true) {
        List<int> ports = FindPorts(corvel, identifier);
        if (ports.Count == 0) { Console.Error.WriteLine("device absent"); return; }
        using Process bridge = OpenBridge(corvel, ports[0]);
        // The raw streams: the text reader and writer would change the bytes.
        Stream toDevice = bridge.StandardInput.BaseStream;
        Stream fromDevice = bridge.StandardOutput.BaseStream;
        toDevice.Write(new byte[] { 0x50, 0x49, 0x4E, 0x47, 0x0A }); toDevice.Flush();  // "PING\n"
        var buffer = new byte[4096];
        int count;
        while ((count = fromDevice.Read(buffer, 0, buffer.Length)) > 0)  // 0 once the bridge has ended
            Console.WriteLine($"device says {Convert.ToHexString(buffer, 0, count)}");
        bridge.WaitForExit();
        if (bridge.ExitCode == PortLost) { Thread.Sleep(1000); continue; }  // look the new port up
        if (bridge.ExitCode == PortUnusable) Console.Error.WriteLine("serial port missing or busy");
        return;
    }
}
