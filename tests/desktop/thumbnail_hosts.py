#!/usr/bin/python3
"""Asks a desktop's own thumbnail host for thumbnails of files, as a file manager would.

  thumbnail_hosts.py gnome   SIZE PICTURES FILE...   GNOME's thumbnail factory (libgnome-desktop)
  thumbnail_hosts.py tumbler SIZE PICTURES FILE...   XFCE's tumblerd over the session bus

FILE=TYPE hands FILE over as TYPE whatever its content type (a FIFO's is inode/fifo).
One line per file on standard output, fields apart by tabs:
  name, content type, "made" or "failed", seconds, width x height, the host's message
A picture made is also written to PICTURES/name.png as the host returned it. A failure is
recorded in the host's failure cache, as file managers do, and checked to be there.
"""
import hashlib
import os
import sys
import time

import gi

gi.require_version("GnomeDesktop", "3.0")
from gi.repository import Gio, GLib, GnomeDesktop  # noqa: E402

GNOME_SIZES = {
    128: GnomeDesktop.DesktopThumbnailSize.NORMAL,
    256: GnomeDesktop.DesktopThumbnailSize.LARGE,
    512: GnomeDesktop.DesktopThumbnailSize.XLARGE,
    1024: GnomeDesktop.DesktopThumbnailSize.XXLARGE,
}
TUMBLER_FLAVORS = {128: "normal", 256: "large", 512: "x-large", 1024: "xx-large"}


def content_type(path):
    info = Gio.File.new_for_path(path).query_info("standard::content-type", Gio.FileQueryInfoFlags.NONE, None)
    return info.get_content_type()


def named(argument):
    path, _, forced = argument.partition("=")
    return path, forced or content_type(path)


def modified(path):
    return int(os.stat(path).st_mtime)


def report(path, mime, made, seconds, size, message):
    print("\t".join([os.path.basename(path), mime, "made" if made else "failed", "%.2f" % seconds, size,
                     message.replace("\n", " ")]), flush=True)


def gnome(size, pictures, paths):
    factory = GnomeDesktop.DesktopThumbnailFactory.new(GNOME_SIZES[size])
    for path, mime in map(named, paths):
        uri = Gio.File.new_for_path(path).get_uri()
        if not factory.can_thumbnail(uri, mime, modified(path)):
            known = factory.has_valid_failed_thumbnail(uri, modified(path))
            report(path, mime, False, 0, "-", "in the failure cache already" if known else "the factory has no thumbnailer for it")
            continue
        start = time.monotonic()
        try:
            picture = factory.generate_thumbnail(uri, mime, None)
            error = "" if picture else "no picture"
        except GLib.Error as failure:
            picture, error = None, failure.message
        seconds = time.monotonic() - start
        if picture:
            factory.save_thumbnail(picture, uri, modified(path), None)
            picture.savev(os.path.join(pictures, os.path.basename(path) + ".png"), "png", [], [])
            report(path, mime, True, seconds, "%dx%d" % (picture.get_width(), picture.get_height()), "")
        else:
            factory.create_failed_thumbnail(uri, modified(path), None)
            if not factory.has_valid_failed_thumbnail(uri, modified(path)):
                error += "; not in the failure cache"
            report(path, mime, False, seconds, "-", error)


def tumbler(size, pictures, paths):
    bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    proxy = Gio.DBusProxy.new_sync(bus, Gio.DBusProxyFlags.NONE, None, "org.freedesktop.thumbnails.Thumbnailer1",
                                   "/org/freedesktop/thumbnails/Thumbnailer1",
                                   "org.freedesktop.thumbnails.Thumbnailer1", None)
    events = {}

    def on_signal(_proxy, _sender, name, parameters):
        events.setdefault(parameters[0], []).append((name, parameters.unpack()))

    proxy.connect("g-signal", on_signal)
    context = GLib.MainContext.default()
    flavor = TUMBLER_FLAVORS[size]
    cache = os.path.join(GLib.get_user_cache_dir(), "thumbnails", flavor)
    for path, mime in map(named, paths):
        uri = Gio.File.new_for_path(path).get_uri()
        start = time.monotonic()
        handle = proxy.call_sync("Queue", GLib.Variant("(asasssu)", ([uri], [mime], flavor, "foreground", 0)),
                                 Gio.DBusCallFlags.NONE, 30000, None).unpack()[0]
        while not any(name == "Finished" for name, _ in events.get(handle, [])) and time.monotonic() - start < 30:
            context.iteration(True)
        seconds = time.monotonic() - start
        errors = [values[3] for name, values in events.get(handle, []) if name == "Error"]
        thumbnail = os.path.join(cache, hashlib.md5(uri.encode()).hexdigest() + ".png")
        if os.path.exists(thumbnail):
            from gi.repository import GdkPixbuf
            picture = GdkPixbuf.Pixbuf.new_from_file(thumbnail)
            picture.savev(os.path.join(pictures, os.path.basename(path) + ".png"), "png", [], [])
            report(path, mime, True, seconds, "%dx%d" % (picture.get_width(), picture.get_height()), "")
        else:
            report(path, mime, False, seconds, "-", "; ".join(errors) or "no thumbnail and no error")
    owner = bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                          "GetConnectionUnixProcessID", GLib.Variant("(s)", ("org.freedesktop.thumbnails.Thumbnailer1",)),
                          None, Gio.DBusCallFlags.NONE, 5000, None).unpack()[0]
    print("tumblerd\t%d" % owner, flush=True)


if __name__ == "__main__":
    host, size, pictures, paths = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4:]
    {"gnome": gnome, "tumbler": tumbler}[host](size, pictures, paths)
