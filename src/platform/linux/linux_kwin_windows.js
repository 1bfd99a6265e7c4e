// Loaded into KWin by the launcher (linux_kwin_windows.cpp), which puts the
// object `launcher` above this text: its bus name, the object path, interface (iface)
// and token to report to, and the plugin name the script was loaded under.
//
// Reports every window KWin manages (X11 ones under Xwayland too) as one JSON
// list: once when run, then whenever a window comes, goes or changes its
// caption. Nothing is asked of KWin between reports.
//
// A script cannot tell that a call it made failed: callDBus calls back on
// success only (KWin 5.27: a call to a name that is gone never calls back).
// So before each report it asks the bus whether the launcher's unique name is
// still there. Once it is not (the launcher ended without unloading the
// script: killed), the script disconnects every handler and never calls
// again. KWin gives a script no call to end itself, but its own D-Bus service
// does: unloadScript with the plugin name, which the script calls last
// (KWin 5.27 unloads it so).
(function () {
  var ws = workspace;
  // KWin 6 names the list and its signals after windows, 5 after clients.
  var six = typeof ws.windowList === "function";
  var added = six ? ws.windowAdded : ws.clientAdded;
  var removed = six ? ws.windowRemoved : ws.clientRemoved;
  var asking = false;
  var inert = false;

  function windows() {
    return six ? ws.windowList() : ws.clientList();
  }

  // A lone UTF-16 surrogate in a caption would make the list no JSON the
  // launcher can read; it becomes U+FFFD, a pair is kept.
  function wellFormed(text) {
    return String(text).replace(/[\ud800-\udbff][\udc00-\udfff]|[\ud800-\udfff]/g, function (c) {
      return c.length === 2 ? c : "\ufffd";
    });
  }

  function describe(w) {
    return {
      id: String(w.internalId),
      pid: w.pid,
      caption: wellFormed(w.caption),
      x11: w.windowId !== undefined && w.windowId !== 0,
      normal: !!w.normalWindow,
      dialog: !!w.dialog,
      skipTaskbar: !!w.skipTaskbar
    };
  }

  function stop() {
    inert = true;
    added.disconnect(onAdded);
    removed.disconnect(onRemoved);
    var list = windows();
    for (var i = 0; i < list.length; ++i) {
      try {
        list[i].captionChanged.disconnect(report);
      } catch (e) {
        // A window that never had the handler.
      }
    }
    callDBus("org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting", "unloadScript", launcher.plugin);
  }

  // One question in flight at most: the report sent when it is answered is
  // made then, so it covers every change made meanwhile.
  function report() {
    if (inert || asking)
      return;
    asking = true;
    callDBus("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
             "NameHasOwner", launcher.bus, function (there) {
      asking = false;
      if (inert)
        return;
      if (there !== true) {
        stop();
        return;
      }
      var list = windows();
      var out = [];
      for (var i = 0; i < list.length; ++i)
        out.push(describe(list[i]));
      callDBus(launcher.bus, launcher.path, launcher.iface, "Report", launcher.token,
               JSON.stringify(out));
    });
  }

  function onAdded(w) {
    w.captionChanged.connect(report);
    report();
  }

  function onRemoved(w) {
    try {
      w.captionChanged.disconnect(report);
    } catch (e) {
      // Already gone with its window.
    }
    report();
  }

  var list = windows();
  for (var i = 0; i < list.length; ++i)
    list[i].captionChanged.connect(report);
  added.connect(onAdded);
  removed.connect(onRemoved);
  report();
})();
