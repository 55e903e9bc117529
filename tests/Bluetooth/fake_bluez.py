#!/usr/bin/python3
"""A stand-in for BlueZ on a private bus: one adapter that takes a GATT application and an advertisement,
and a test interface through which the test plays a phone (a central) against the registered application.

usage: fake_bluez.py BUS_ADDRESS [--no-adapter] [--powered-off]
"""
import json
import os
import socket
import sys
import zlib

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

ADAPTER = "/org/bluez/hci0"
OM = "org.freedesktop.DBus.ObjectManager"
PROPS = "org.freedesktop.DBus.Properties"
CHAR = "org.bluez.GattCharacteristic1"
TEST = "com.dovel.Ombry.Test.FakeBluez"

# BlueZ's mapping of an application's error names to ATT codes; every other name is "unlikely error".
ATT_CODES = {
    "org.bluez.Error.Failed": 0x80,
    "org.bluez.Error.NotSupported": 0x06,
    "org.bluez.Error.NotAuthorized": 0x08,
    "org.bluez.Error.InvalidValueLength": 0x0D,
    "org.bluez.Error.InvalidOffset": 0x07,
    "org.bluez.Error.NotPermitted": 0x03,
}
UNLIKELY = 0x0E


class Central:
    """The phone's side of one acquired notification link: chunks in, messages out."""

    def __init__(self, sock=None):
        self.sock = sock
        self.chunks = []
        self.messages = []
        self.open = None
        self.watch = GLib.io_add_watch(sock.fileno(), GLib.IO_IN | GLib.IO_HUP, self.readable) if sock else None
        self.stop = None  # for a link through StartNotify: how to end it

    def readable(self, fd, cond):
        if cond & GLib.IO_HUP:
            return False
        try:
            while True:
                chunk = self.sock.recv(4096)
                if not chunk:
                    return False
                self.take(chunk)
        except BlockingIOError:
            pass
        return True

    def take(self, chunk):
        self.chunks.append(bytes(chunk))
        h = chunk[0]
        if h & 0x80:
            self.open = {"seq": h & 0x1F, "compressed": bool(h & 0x20), "payload": b""}
        if self.open is None:
            raise RuntimeError("chunk without a first chunk")
        self.open["payload"] += bytes(chunk[1:])
        if h & 0x40:
            m = self.open
            self.open = None
            payload = zlib.decompress(m["payload"], -15) if m["compressed"] else m["payload"]
            self.messages.append((m["seq"], m["compressed"], payload))

    def close(self):
        if self.stop:
            self.stop()
            return
        GLib.source_remove(self.watch)
        self.sock.close()


class Bluez(dbus.service.Object):
    def __init__(self, bus, adapter, powered):
        super().__init__(bus, "/")
        self.bus = bus
        self.adapter = adapter
        self.powered = powered
        self.app = None  # (owner, root path, managed objects)
        self.ads = []  # (owner, path, properties)
        self.centrals = {}  # characteristic uuid -> Central
        self.registrations = 0

    # org.freedesktop.DBus.ObjectManager at "/": the adapter.
    @dbus.service.method(OM, out_signature="a{oa{sa{sv}}}")
    def GetManagedObjects(self):
        if not self.adapter:
            return dbus.Dictionary({}, signature="oa{sa{sv}}")
        return {
            dbus.ObjectPath(ADAPTER): {
                "org.bluez.Adapter1": {"Powered": dbus.Boolean(self.powered), "Address": "00:00:00:00:00:01"},
                "org.bluez.GattManager1": dbus.Dictionary({}, signature="sv"),
                "org.bluez.LEAdvertisingManager1": dbus.Dictionary({}, signature="sv"),
            }
        }

    # Test interface: the test drives the phone's side through these.
    @dbus.service.method(TEST, out_signature="s")
    def Application(self):
        out = {"registrations": self.registrations, "objects": [], "ads": []}
        if self.app:
            for path, ifaces in self.app[2].items():
                out["objects"].append({"path": str(path), "interfaces": {
                    i: {k: plain(v) for k, v in props.items()} for i, props in ifaces.items()}})
        for owner, path, props in self.ads:
            out["ads"].append({"path": path, **{k: plain(v) for k, v in props.items()}})
        return json.dumps(out)

    @dbus.service.signal(OM, signature="oa{sa{sv}}")
    def InterfacesAdded(self, path, interfaces):
        pass

    @dbus.service.method(TEST)
    def AddAdapter(self):
        """An adapter plugged in while the application runs."""
        global adapter_obj
        self.adapter = True
        adapter_obj = Adapter(self.bus, self)
        self.InterfacesAdded(dbus.ObjectPath(ADAPTER), self.GetManagedObjects()[dbus.ObjectPath(ADAPTER)])

    @dbus.service.method(TEST, in_signature="b")
    def SetPowered(self, on):
        self.powered = bool(on)
        if not self.powered:
            # The stack forgets advertisements and links with the power.
            self.ads = []
            for c in self.centrals.values():
                c.close()
            self.centrals = {}
        adapter_obj.PropertiesChanged("org.bluez.Adapter1", {"Powered": dbus.Boolean(self.powered)}, [])

    def char_path(self, uuid):
        for path, ifaces in self.app[2].items():
            c = ifaces.get(CHAR)
            if c and str(c["UUID"]).upper() == uuid.upper():
                return path
        raise dbus.exceptions.DBusException("no characteristic " + uuid, name="org.bluez.Error.DoesNotExist")

    def char(self, uuid):
        return dbus.Interface(self.bus.get_object(self.app[0], self.char_path(uuid)), CHAR)

    @dbus.service.method(TEST, in_signature="say", out_signature="y", async_callbacks=("ok", "err"))
    def Write(self, uuid, value, ok, err):
        opts = {"device": dbus.ObjectPath(ADAPTER + "/dev_00_00_00_00_00_02"), "type": "request", "mtu": dbus.UInt16(185)}
        self.char(uuid).WriteValue(dbus.Array(value, signature="y"), opts,
                                   reply_handler=lambda: ok(dbus.Byte(0)),
                                   error_handler=lambda e: ok(dbus.Byte(ATT_CODES.get(e.get_dbus_name(), UNLIKELY))))

    @dbus.service.method(TEST, in_signature="sq", out_signature="q", async_callbacks=("ok", "err"))
    def Subscribe(self, uuid, mtu, ok, err):
        opts = {"device": dbus.ObjectPath(ADAPTER + "/dev_00_00_00_00_00_02"), "mtu": dbus.UInt16(mtu), "link": "LE"}

        def acquired(fd, got_mtu):
            sock = socket.socket(fileno=fd.take())
            sock.setblocking(False)
            self.centrals[uuid.upper()] = Central(sock)
            ok(got_mtu)

        self.char(uuid).AcquireNotify(opts, reply_handler=acquired, error_handler=err)

    @dbus.service.method(TEST, in_signature="s", async_callbacks=("ok", "err"))
    def SubscribeByValue(self, uuid, ok, err):
        """As BlueZ does for an application without AcquireNotify: StartNotify, then Value changes."""
        central = Central()
        chrc = self.char(uuid)

        def changed(iface, props, invalidated):
            if iface == CHAR and "Value" in props:
                central.take(bytes(props["Value"]))

        match = self.bus.add_signal_receiver(changed, signal_name="PropertiesChanged", dbus_interface=PROPS,
                                             path=self.char_path(uuid), bus_name=self.app[0])

        def stop():
            match.remove()
            chrc.StopNotify()

        central.stop = stop
        self.centrals[uuid.upper()] = central
        chrc.StartNotify(reply_handler=ok, error_handler=err)

    @dbus.service.method(TEST, in_signature="s")
    def Unsubscribe(self, uuid):
        c = self.centrals.pop(uuid.upper(), None)
        if c:
            c.close()

    @dbus.service.method(TEST, in_signature="s", out_signature="a(ybay)")
    def Messages(self, uuid):
        c = self.centrals.get(uuid.upper())
        msgs = c.messages if c else []
        return dbus.Array([dbus.Struct((dbus.Byte(s), dbus.Boolean(z), dbus.ByteArray(p))) for s, z, p in msgs],
                          signature="(ybay)")

    @dbus.service.method(TEST, in_signature="s", out_signature="aay")
    def Chunks(self, uuid):
        c = self.centrals.get(uuid.upper())
        return dbus.Array([dbus.ByteArray(x) for x in (c.chunks if c else [])], signature="ay")


class Adapter(dbus.service.Object):
    def __init__(self, bus, bluez):
        super().__init__(bus, ADAPTER)
        self.bus = bus
        self.bluez = bluez

    @dbus.service.signal(PROPS, signature="sa{sv}as")
    def PropertiesChanged(self, iface, changed, invalidated):
        pass

    @dbus.service.method(PROPS, in_signature="ss", out_signature="v")
    def Get(self, iface, name):
        if iface == "org.bluez.Adapter1" and name == "Powered":
            return dbus.Boolean(self.bluez.powered)
        raise dbus.exceptions.DBusException("no such property", name="org.freedesktop.DBus.Error.InvalidArgs")

    @dbus.service.method(PROPS, in_signature="s", out_signature="a{sv}")
    def GetAll(self, iface):
        if iface == "org.bluez.Adapter1":
            return {"Powered": dbus.Boolean(self.bluez.powered)}
        return dbus.Dictionary({}, signature="sv")

    @dbus.service.method("org.bluez.GattManager1", in_signature="oa{sv}", sender_keyword="sender",
                         async_callbacks=("ok", "err"))
    def RegisterApplication(self, app, options, sender, ok, err):
        # As BlueZ does: read the application's objects before answering.
        om = dbus.Interface(self.bus.get_object(sender, app), OM)

        def got(objects):
            services = [p for p, i in objects.items() if "org.bluez.GattService1" in i]
            if not services:
                err(dbus.exceptions.DBusException("no service", name="org.bluez.Error.Failed"))
                return
            self.bluez.app = (sender, str(app), objects)
            self.bluez.registrations += 1
            ok()

        om.GetManagedObjects(reply_handler=got, error_handler=err)

    @dbus.service.method("org.bluez.GattManager1", in_signature="o")
    def UnregisterApplication(self, app):
        self.bluez.app = None
        for c in self.bluez.centrals.values():
            c.close()
        self.bluez.centrals = {}

    @dbus.service.method("org.bluez.LEAdvertisingManager1", in_signature="oa{sv}", sender_keyword="sender",
                         async_callbacks=("ok", "err"))
    def RegisterAdvertisement(self, path, options, sender, ok, err):
        if not self.bluez.powered:
            err(dbus.exceptions.DBusException("Not Powered", name="org.bluez.Error.Failed"))
            return
        props = dbus.Interface(self.bus.get_object(sender, path), PROPS)

        def got(all_props):
            self.bluez.ads.append((sender, str(path), dict(all_props)))
            ok()

        props.GetAll("org.bluez.LEAdvertisement1", reply_handler=got, error_handler=err)

    @dbus.service.method("org.bluez.LEAdvertisingManager1", in_signature="o")
    def UnregisterAdvertisement(self, path):
        self.bluez.ads = [a for a in self.bluez.ads if a[1] != str(path)]


def plain(v):
    if isinstance(v, (dbus.Array, list)):
        return [plain(x) for x in v]
    if isinstance(v, dbus.Boolean):
        return bool(v)
    if isinstance(v, (dbus.Byte, dbus.UInt16, dbus.Int32, dbus.UInt32, int)):
        return int(v)
    if isinstance(v, dict):
        return {str(k): plain(x) for k, x in v.items()}
    return str(v)


if __name__ == "__main__":
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.bus.BusConnection(sys.argv[1])
    has_adapter = "--no-adapter" not in sys.argv
    bluez = Bluez(bus, has_adapter, "--powered-off" not in sys.argv)
    adapter_obj = Adapter(bus, bluez) if has_adapter else None
    name = dbus.service.BusName("org.bluez", bus)
    print("ready", flush=True)
    GLib.MainLoop().run()
