#!/usr/bin/python3
# Stands in for the desktop's notification service on a session bus: it owns
# org.freedesktop.Notifications and writes one line per Notify call to RECORD (the application,
# the id it replaces, the icon, the summary, the body, the actions, the hints and the expiry
# timeout, apart by tabs), then answers as the real service
# does: every field of the call, so that none goes unread (the hints as "key=value" in key
# order, the actions and the hints apart by commas). The strings are written as they came, so a tab
# or a line end in one shows as a broken line. It offers the CAPABILITIES named, or only "body": with "body-markup" it stands for a
# service that renders a body as markup, where a link in one is a link the person can click.
# "ready" on standard output once the name is its own; it ends with its bus.
#   notification_recorder.py RECORD [CAPABILITY...]
import sys

from gi.repository import Gio, GLib

INTERFACE = """
<node>
  <interface name="org.freedesktop.Notifications">
    <method name="Notify">
      <arg type="s" direction="in"/><arg type="u" direction="in"/><arg type="s" direction="in"/>
      <arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="as" direction="in"/>
      <arg type="a{sv}" direction="in"/><arg type="i" direction="in"/><arg type="u" direction="out"/>
    </method>
    <method name="GetCapabilities"><arg type="as" direction="out"/></method>
    <method name="GetServerInformation">
      <arg type="s" direction="out"/><arg type="s" direction="out"/>
      <arg type="s" direction="out"/><arg type="s" direction="out"/>
    </method>
    <method name="CloseNotification"><arg type="u" direction="in"/></method>
  </interface>
</node>
"""

record = open(sys.argv[1], "a", buffering=1, encoding="utf-8")
capabilities = sys.argv[2:] or ["body"]
loop = GLib.MainLoop()
sent = 0


def answer(connection, sender, path, interface, method, parameters, invocation):
    global sent
    if method == "Notify":
        application, replaces, icon, summary, body, actions, hints, expiry = parameters.unpack()
        shown_hints = ",".join("%s=%s" % (key, hints[key]) for key in sorted(hints))
        record.write("%s\t%d\t%s\t%s\t%s\t%s\t%s\t%d\n" % (application, replaces, icon, summary, body,
                                                       ",".join(actions), shown_hints, expiry))
        sent += 1
        invocation.return_value(GLib.Variant("(u)", (sent,)))
    elif method == "GetCapabilities":
        invocation.return_value(GLib.Variant("(as)", (capabilities,)))
    elif method == "GetServerInformation":
        invocation.return_value(GLib.Variant("(ssss)", ("recorder", "olvanta tests", "1", "1.2")))
    else:
        invocation.return_value(None)


def on_bus(connection, name):
    node = Gio.DBusNodeInfo.new_for_xml(INTERFACE)
    connection.register_object("/org/freedesktop/Notifications", node.interfaces[0], answer, None, None)


def on_name(connection, name):
    print("ready", flush=True)


Gio.bus_own_name(Gio.BusType.SESSION, "org.freedesktop.Notifications", Gio.BusNameOwnerFlags.NONE,
                 on_bus, on_name, lambda connection, name: loop.quit())
loop.run()
