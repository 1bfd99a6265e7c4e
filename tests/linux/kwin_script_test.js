// The script KWin runs for the launcher's window list, run in Node.js against
// stand-ins for KWin 5.27's and KWin 6's workspace and for callDBus, which
// answers asynchronously as KWin's does.
//   node kwin_script_test.js path/to/linux_kwin_windows.js
"use strict";
const assert = require("assert");
const fs = require("fs");
const vm = require("vm");

const source = fs.readFileSync(process.argv[2], "utf8");
const settings = {bus: ":1.42", path: "/org/launcher/WindowReport", iface: "org.launcher.WindowReport",
                  token: "t0k3n", plugin: "launcher-windows-1-ab"};

function Signal() {
  const handlers = [];
  return {
    connect: (f) => handlers.push(f),
    disconnect: (f) => {
      const i = handlers.indexOf(f);
      if (i < 0) throw new Error("not connected");
      handlers.splice(i, 1);
    },
    emit: (...args) => handlers.slice().forEach((f) => f(...args)),
    count: () => handlers.length,
  };
}

// A window as KWin 5.27 (windowId 0 for Wayland) or 6 (none) shows it.
function Window(shape, id, pid, caption, x11) {
  const w = {internalId: "{" + id + "}", pid: pid, caption: caption, normalWindow: true,
             dialog: false, skipTaskbar: false, captionChanged: Signal()};
  if (x11) w.windowId = 0x200003;
  else if (shape === "5.27") w.windowId = 0;
  return w;
}

function Workspace(shape, windows) {
  const ws = {windows: windows};
  const list = () => ws.windows.slice();
  if (shape === "6") Object.assign(ws, {windowList: list, windowAdded: Signal(), windowRemoved: Signal()});
  else Object.assign(ws, {clientList: list, clientAdded: Signal(), clientRemoved: Signal()});
  ws.added = shape === "6" ? ws.windowAdded : ws.clientAdded;
  ws.removed = shape === "6" ? ws.windowRemoved : ws.clientRemoved;
  return ws;
}

// Runs the script; `alive()` is what the bus says of the launcher's name.
function Run(ws, alive) {
  const calls = [];
  const queue = [];
  const callDBus = (service, path, iface, method, ...args) => {
    const callback = typeof args[args.length - 1] === "function" ? args.pop() : null;
    calls.push({service, path, iface, method, args});
    if (callback) {
      assert.deepStrictEqual([service, method, args], ["org.freedesktop.DBus", "NameHasOwner", [settings.bus]]);
      queue.push(() => callback(alive()));
    }
  };
  vm.runInNewContext("var launcher = " + JSON.stringify(settings) + ";\n" + source,
                     {workspace: ws, callDBus: callDBus});
  const flush = () => { while (queue.length) queue.shift()(); };
  // The captions of each report sent since the last look.
  const reports = () => {
    flush();
    const sent = calls.filter((c) => c.method === "Report").map((c) => {
      assert.deepStrictEqual([c.service, c.path, c.iface, c.args[0]],
                             [settings.bus, settings.path, settings.iface, settings.token]);
      return JSON.parse(c.args[1]).map((w) => w.caption + (w.x11 ? "(x11," + w.pid + ")" : "")).join(",");
    });
    const others = calls.filter((c) => c.method !== "Report" && c.method !== "NameHasOwner");
    calls.length = 0;
    return {sent, others};
  };
  return reports;
}

let failures = 0;
const check = (what, f) => {
  try {
    f();
    console.log("ok   " + what);
  } catch (e) {
    ++failures;
    console.log("FAIL " + what + "\n" + e.stack);
  }
};
for (const shape of ["5.27", "6"]) {
  check(shape + ": reports as windows come, go and change caption, one report per burst", () => {
    const a = Window(shape, "a", 10, "A", false);
    const x = Window(shape, "x", 11, "X", true);
    const b = Window(shape, "b", 12, "B\ud800", false);
    const ws = Workspace(shape, [a, x]);
    const reports = Run(ws, () => true);
    for (const [name, act, expected] of [
      ["run", () => {}, ["A,X(x11,11)"]],
      ["add", () => { ws.windows.push(b); ws.added.emit(b); }, ["A,X(x11,11),B\ufffd"]],
      ["caption", () => { a.caption = "A2"; a.captionChanged.emit(); }, ["A2,X(x11,11),B\ufffd"]],
      ["new window's caption", () => { b.caption = "B\ud83d\ude00"; b.captionChanged.emit(); },
       ["A2,X(x11,11),B\ud83d\ude00"]],
      ["remove", () => { ws.windows.splice(0, 1); ws.removed.emit(a); }, ["X(x11,11),B\ud83d\ude00"]],
      ["removed window unwatched", () => a.captionChanged.emit(), []],
      ["burst", () => { x.captionChanged.emit(); b.captionChanged.emit(); }, ["X(x11,11),B\ud83d\ude00"]],
    ]) {
      act();
      assert.deepStrictEqual(reports(), {sent: expected, others: []}, name);
    }
  });
  check(shape + ": goes inert and unloads itself once the launcher's name is gone", () => {
    const a = Window(shape, "a", 10, "A", false);
    const ws = Workspace(shape, [a]);
    let alive = true;
    const reports = Run(ws, () => alive);
    assert.deepStrictEqual(reports().sent, ["A"]);
    alive = false;
    a.captionChanged.emit();
    assert.deepStrictEqual(reports().others.map((c) => [c.service, c.path, c.method, c.args]),
                           [["org.kde.KWin", "/Scripting", "unloadScript", [settings.plugin]]]);
    assert.deepStrictEqual([ws.added.count(), ws.removed.count(), a.captionChanged.count()], [0, 0, 0]);
    ws.added.emit(Window(shape, "b", 12, "B", false));  // a handler left connected would call
    assert.deepStrictEqual(reports(), {sent: [], others: []});
  });
}
process.exit(failures === 0 ? 0 : 1);
