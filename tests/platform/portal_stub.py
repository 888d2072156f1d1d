#!/usr/bin/python3
"""Scripted stand-in for the portal's FileChooser on $DBUS_SESSION_BUS_ADDRESS.
Usage: portal_stub.py <ready file> <record file> <answers file>. One answer per call, JSON:
{"code": 0, "uris": [...]} | {"code": 1} | {"never": true}, plus "trigger": file to wait for,
"early": respond before the reply, "path": request path to use. Records "call", "sender",
"parent", "title", "opt <key> <type> <value>" (sorted; byte arrays in hex), "end"; "close <path>".
"""
import json
import os
import sys

import gi

gi.require_version("Gio", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

METHOD_XML = """<method name="%s"><arg type="s" name="parent_window" direction="in"/>
<arg type="s" name="title" direction="in"/><arg type="a{sv}" name="options" direction="in"/>
<arg type="o" name="handle" direction="out"/></method>"""
FILE_CHOOSER_XML = ('<node><interface name="org.freedesktop.portal.FileChooser">%s</interface></node>'
                    % "".join(METHOD_XML % m for m in ("OpenFile", "SaveFile")))
REQUEST_XML = '<node><interface name="org.freedesktop.portal.Request"><method name="Close"/></interface></node>'

ready_file, record_file, answers_file = sys.argv[1:4]
with open(answers_file, encoding="utf-8") as f:
    answers = json.load(f)
calls = 0
requests = {}  # path -> registration id
chooser_info = Gio.DBusNodeInfo.new_for_xml(FILE_CHOOSER_XML).interfaces[0]
request_info = Gio.DBusNodeInfo.new_for_xml(REQUEST_XML).interfaces[0]


def record(lines):
    with open(record_file, "a", encoding="utf-8") as f:
        f.write("".join(line + "\n" for line in lines))


def option_lines(options):
    lines = []
    for i in range(options.n_children()):
        entry = options.get_child_value(i)
        value = entry.get_child_value(1).get_variant()
        kind = value.get_type_string()
        text = bytes(value.get_data_as_bytes().get_data()).hex() if kind == "ay" else value.print_(True)
        lines.append("opt %s %s %s" % (entry.get_child_value(0).get_string(), kind, text))
    return sorted(lines)


def unexport(connection, path):
    reg = requests.pop(path, None)
    if reg is not None:
        connection.unregister_object(reg)


def respond(connection, sender, path, answer):
    if path not in requests:
        return  # closed meanwhile
    code = answer.get("code", 0)
    results = {}
    if code == 0:
        results["uris"] = GLib.Variant("as", answer.get("uris", []))
    connection.emit_signal(sender, path, "org.freedesktop.portal.Request", "Response",
                           GLib.Variant("(ua{sv})", (code, results)))
    connection.flush_sync(None)
    unexport(connection, path)


def on_request_call(connection, sender, path, interface, method, params, invocation):
    record(["close " + path])
    unexport(connection, path)
    invocation.return_value(None)


def on_chooser_call(connection, sender, path, interface, method, params, invocation):
    global calls
    answer = answers[calls] if calls < len(answers) else {"never": True}
    calls += 1
    parent = params.get_child_value(0).get_string()
    title = params.get_child_value(1).get_string()
    options = params.get_child_value(2)
    token = options.lookup_value("handle_token", GLib.VariantType.new("s"))
    token = token.get_string() if token is not None else "t%d" % calls
    handle = "/org/freedesktop/portal/desktop/request/%s/%s" % (
        sender[1:].replace(".", "_"), token)
    handle = answer.get("path", handle)
    requests[handle] = connection.register_object(handle, request_info, on_request_call)
    record(["call " + method, "sender " + sender, "parent " + parent, "title " + title]
           + option_lines(options) + ["end"])

    if answer.get("early"):
        respond(connection, sender, handle, answer)
    invocation.return_value(GLib.Variant("(o)", (handle,)))
    if answer.get("never") or answer.get("early"):
        return
    trigger = answer.get("trigger")

    def check():
        if trigger is not None and not os.path.exists(trigger):
            return GLib.SOURCE_CONTINUE
        respond(connection, sender, handle, answer)
        return GLib.SOURCE_REMOVE

    GLib.timeout_add(20, check)


def on_bus(connection, name):
    connection.register_object("/org/freedesktop/portal/desktop", chooser_info, on_chooser_call)


def on_name(connection, name):
    with open(ready_file, "w", encoding="utf-8") as f:
        f.write("ready\n")


def on_lost(connection, name):
    sys.exit(3)


Gio.bus_own_name(Gio.BusType.SESSION, "org.freedesktop.portal.Desktop",
                 Gio.BusNameOwnerFlags.NONE, on_bus, on_name, on_lost)
GLib.MainLoop().run()
