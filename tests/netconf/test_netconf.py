#!/usr/bin/python3
"""ocmap serve against real clients.

Usage: test_netconf.py OCMAP GROUP

Starts `OCMAP serve` on a free loopback port with keys, a password and a
store made here, and runs one group of cases with ncclient, a raw NETCONF
1.1 client on paramiko (for messages ncclient will not send) and yangcli.
Most cases are rows of a table: a request and what both views of the
datastores hold afterwards, or the rpc-error it gets.
"""
import os
import random
import select
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import warnings

import paramiko
with warnings.catch_warnings():
    warnings.simplefilter("ignore", DeprecationWarning)
    import crypt
import ncclient
import ncclient.transport.ssh
from lxml import etree
from ncclient import manager
from ncclient.operations import RPCError

# ncclient's transport wakes up once a tick to send; its default 0.1 s
# would add that much to every RPC.
ncclient.transport.ssh.TICK = 0.002

BASE = "urn:ietf:params:xml:ns:netconf:base:1.0"
OC = "http://openconfig.net/yang/local-routing"
NATIVE = "http://velmo.example/ns/yang/Velmo-Ornat-ip-static-cfg"
NCM = "urn:ietf:params:xml:ns:yang:ietf-netconf-monitoring"
YANGLIB = "urn:ietf:params:xml:ns:yang:ietf-yang-library"
NS = {"nc": BASE, "oc": OC, "nat": NATIVE, "ncm": NCM, "yl": YANGLIB}
YANG_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "yang")
PASSWORD = "s3cret pass"
R0 = {"10.0.0.0/8": {"192.0.2.1": "5"}}  # what the store holds at start


# ------------------------------------------------------------------ documents

def op_attr(op):
    return ' nc:operation="%s"' % op if op else ""


def config(content):
    # In the NETCONF namespace: libyang (so libnetconf2) refuses an
    # unqualified <config> ("Missing XML namespace."), which ncclient sends
    # as given.
    return '<config xmlns="%s">%s</config>' % (BASE, content)


def subtree(content):
    return '<filter xmlns="%s" type="subtree">%s</filter>' % (BASE, content)


def oc(*statics, op=None):
    return ('<local-routes xmlns="%s" xmlns:oc-loc-rt="%s" xmlns:nc="%s"%s><static-routes>%s'
            "</static-routes></local-routes>" % (OC, OC, BASE, op_attr(op), "".join(statics)))


def static(prefix, *hops, op=None, tag=None):
    conf = ("<config><prefix>%s</prefix>%s</config>"
            % (prefix, "<set-tag>%d</set-tag>" % tag if tag else "")) if op != "delete" else ""
    return "<static%s><prefix>%s</prefix>%s%s</static>" % (
        op_attr(op), prefix, conf, "<next-hops>%s</next-hops>" % "".join(hops) if hops else "")


def hop(index, next_hop=None, metric=None, op=None):
    conf = "".join("<%s>%s</%s>" % (k, v, k) for k, v in
                   (("index", index), ("next-hop", next_hop), ("metric", metric)) if v is not None)
    return "<next-hop%s><index>%s</index>%s</next-hop>" % (
        op_attr(op), index, "<config>%s</config>" % conf if next_hop or metric else "")


def native(*prefixes, op=None):
    return ('<router-static xmlns="%s" xmlns:nc="%s"%s><default-vrf><address-family><vrfipv4>'
            "<vrf-unicast><vrf-prefixes>%s</vrf-prefixes></vrf-unicast></vrfipv4></address-family>"
            "</default-vrf></router-static>" % (NATIVE, BASE, op_attr(op), "".join(prefixes)))


def vrf_prefix(prefix, *hops, op=None):
    net, length = prefix.split("/")
    route = ("<vrf-route><vrf-next-hop-table>%s</vrf-next-hop-table></vrf-route>" % "".join(hops)
             if hops else "")
    return "<vrf-prefix%s><prefix>%s</prefix><prefix-length>%s</prefix-length>%s</vrf-prefix>" % (
        op_attr(op), net, length, route)


def nat_hop(address, metric=None, op=None):
    return ("<vrf-next-hop-next-hop-address%s><next-hop-address>%s</next-hop-address>%s"
            "</vrf-next-hop-next-hop-address>" % (
                op_attr(op), address, "<metric>%s</metric>" % metric if metric else ""))


def store_text(routes):
    """A native store holding routes {prefix: {address: metric}}."""
    return '<?xml version="1.0"?>\n' + native(*(
        vrf_prefix(p, *(nat_hop(a, m) for a, m in hops.items())) for p, hops in routes.items()))


# ------------------------------------------------------------------ checks

def check(cond, what):
    if not cond:
        raise AssertionError(what)


def rpc_error(call, *args, **kwargs):
    """The RPCError a call raises (None when it succeeds)."""
    try:
        call(*args, **kwargs)
    except RPCError as e:
        return e
    return None


def error_info(e, name):
    info = etree.fromstring(e.info.encode()) if e.info else None
    found = info.find("{%s}%s" % (BASE, name)) if info is not None else None
    return found.text if found is not None else None


def data_of(reply):
    return reply.data_ele if hasattr(reply, "data_ele") else reply


def views(m, ds="running"):
    """The routes of a datastore as {prefix: {next-hop: metric}}, read in
    both views, which must agree."""
    data = data_of(m.get_config(ds))
    native_view, oc_view = {}, {}
    for p in data.iterfind("nat:router-static//nat:vrf-prefix", NS):
        hops = native_view.setdefault("%s/%s" % (p.findtext("nat:prefix", namespaces=NS),
                                                 p.findtext("nat:prefix-length", namespaces=NS)), {})
        for h in p.iterfind("nat:vrf-route/nat:vrf-next-hop-table/nat:vrf-next-hop-next-hop-address",
                            NS):
            hops[h.findtext("nat:next-hop-address", namespaces=NS)] = h.findtext("nat:metric",
                                                                                 namespaces=NS)
    for s in data.iterfind("oc:local-routes/oc:static-routes/oc:static", NS):
        hops = oc_view.setdefault(s.findtext("oc:prefix", namespaces=NS), {})
        for h in s.iterfind("oc:next-hops/oc:next-hop/oc:config", NS):
            hops[h.findtext("oc:next-hop", namespaces=NS)] = h.findtext("oc:metric", namespaces=NS)
    check(native_view == oc_view, "%s: native view %s, OpenConfig view %s" % (ds, native_view,
                                                                             oc_view))
    return native_view


def routes_with(base, **changes):
    """base with routes added or changed (prefix given with _ for . and __
    for /), or dropped (None)."""
    out = {k: dict(v) for k, v in base.items()}
    for key, hops in changes.items():
        prefix = key.replace("__", "/").replace("_", ".")
        if hops is None:
            out.pop(prefix, None)
        else:
            out[prefix] = hops
    return out


# ------------------------------------------------------------------ server

class Server:
    def __init__(self, ocmap, work, store=None):
        self.ocmap, self.work = ocmap, work
        self.keys = {}
        for kind in ("ed25519", "ecdsa", "rsa", "stranger"):
            path = os.path.join(work, "id_" + kind)
            subprocess.run(["ssh-keygen", "-q", "-t", "ed25519" if kind == "stranger" else kind,
                            "-N", "", "-f", path], check=True)
            self.keys[kind] = path
        with open(os.path.join(work, "authorized_keys"), "w") as f:
            f.write("# the test's keys\n\n")
            for kind in ("ed25519", "ecdsa", "rsa"):
                with open(self.keys[kind] + ".pub") as pub:
                    key = pub.read().strip()
                f.write(('no-pty,command="echo a b" ' if kind == "rsa" else "") + key + "\n")
        hashed = crypt.crypt(PASSWORD, crypt.mksalt(crypt.METHOD_SHA512))
        with open(os.path.join(work, "password"), "w") as f:
            f.write(hashed + "\n")
        self.store = os.path.join(work, "store.xml")
        with open(self.store, "w") as f:
            f.write(store or store_text(R0))
        self.start()

    def start(self):
        # libnetconf2 will not listen on port 0: take a free port and
        # retry when someone else takes it first.
        for _ in range(5):
            with socket.socket() as s:
                s.bind(("127.0.0.1", 0))
                self.port = s.getsockname()[1]
            host_key = os.path.join(self.work, "host_key")
            self.proc = subprocess.Popen(
                [self.ocmap, "serve", "--store", self.store, "--port", str(self.port),
                 "--host-key", host_key, "--user", "alice",
                 "--authorized-keys", os.path.join(self.work, "authorized_keys"),
                 "--password-file", os.path.join(self.work, "password")],
                stdout=subprocess.PIPE, text=True)
            ready, _, _ = select.select([self.proc.stdout], [], [], 30)
            line = self.proc.stdout.readline() if ready else ""
            if line == "ocmap: listening on 127.0.0.1:%d\n" % self.port:
                check(os.stat(host_key).st_mode & 0o777 == 0o600, "host key mode 0600")
                return
            self.proc.kill()
            self.proc.wait()
        raise AssertionError("the server did not start")

    def connect(self, key="ed25519", password=None, user="alice"):
        return manager.connect(
            host="127.0.0.1", port=self.port, username=user, password=password,
            key_filename=None if password else self.keys[key], hostkey_verify=False,
            allow_agent=False, look_for_keys=False, timeout=10)

    def ocmap_run(self, *args, stdin=None):
        return subprocess.run([self.ocmap, *args], input=stdin, capture_output=True, text=True)

    def store_bytes(self):
        with open(self.store, "rb") as f:
            return f.read()

    def stop(self, sig=signal.SIGTERM, timeout=10):
        self.proc.send_signal(sig)
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            return "still running %d s after the signal" % timeout


class RawSession:
    """NETCONF 1.1 over paramiko, for messages ncclient will not send."""

    def __init__(self, server, hello=True):
        self.transport = paramiko.Transport(("127.0.0.1", server.port))
        self.transport.connect(username="alice",
                               pkey=paramiko.Ed25519Key.from_private_key_file(server.keys["ed25519"]))
        self.channel = self.transport.open_session()
        self.channel.invoke_subsystem("netconf")
        self.buffer = b""
        server_hello = self._read_until(b"]]>]]>")
        self.session_id = etree.fromstring(server_hello).findtext("nc:session-id", namespaces=NS)
        if hello:
            self.channel.sendall(('<hello xmlns="%s"><capabilities><capability>'
                                  "urn:ietf:params:netconf:base:1.1</capability></capabilities>"
                                  "</hello>]]>]]>" % BASE).encode())

    def _read_until(self, end):
        while end not in self.buffer:
            data = self.channel.recv(65536)
            if not data:
                raise EOFError("the server closed the session")
            self.buffer += data
        message, self.buffer = self.buffer.split(end, 1)
        return message

    def rpc(self, body, message_id="1"):
        return self.send('<rpc xmlns="%s" message-id="%s">%s</rpc>' % (BASE, message_id, body))

    def send(self, message):
        text = message.encode()
        self.channel.sendall(b"\n#%d\n%s\n##\n" % (len(text), text))
        reply = b""
        for chunk in self._read_until(b"\n##\n").split(b"\n#")[1:]:
            reply += chunk.split(b"\n", 1)[1]
        return etree.fromstring(reply)

    def close(self):
        self.transport.close()


# ------------------------------------------------------------------ groups

def group_session(srv):
    m = srv.connect()
    caps = set(m.server_capabilities)
    for cap in ("urn:ietf:params:netconf:base:1.0", "urn:ietf:params:netconf:base:1.1",
                "urn:ietf:params:netconf:capability:writable-running:1.0",
                "urn:ietf:params:netconf:capability:candidate:1.0",
                "urn:ietf:params:netconf:capability:validate:1.1",
                "urn:ietf:params:netconf:capability:rollback-on-error:1.0",
                OC + "?module=openconfig-local-routing&revision=2024-01-01",
                NATIVE + "?module=Velmo-Ornat-ip-static-cfg&revision=2024-01-01",
                NCM + "?module=ietf-netconf-monitoring&revision=2010-10-04"):
        check(cap in caps, "hello advertises " + cap)
    raw = RawSession(srv)
    check(raw.transport.get_remote_server_key().get_name() == "ssh-ed25519",
          "the host key made at start is Ed25519")
    raw.close()

    # Authentication: the three key types, the password, and refusals.
    for what, kwargs, ok in (
            ("ed25519 key", {"key": "ed25519"}, True),
            ("ecdsa key", {"key": "ecdsa"}, True),
            ("rsa key behind options", {"key": "rsa"}, True),
            ("password", {"password": PASSWORD}, True),
            ("wrong password", {"password": "s3cret"}, False),
            ("unlisted key", {"key": "stranger"}, False),
            ("another user's name", {"key": "ed25519", "user": "root"}, False),
            ("another user's password", {"password": PASSWORD, "user": "root"}, False)):
        try:
            srv.connect(**kwargs).close_session()
            accepted = True
        except Exception:  # ncclient raises its AuthenticationError or an SSHError
            accepted = False
        check(accepted == ok, "%s: %s" % (what, "accepted" if accepted else "refused"))

    # get-schema: the data modules exactly as written, others printed as
    # loaded (ietf-netconf with the candidate as a delete-config target).
    for name, version, expect in (
            ("Velmo-Ornat-ip-static-cfg", None, "file"),
            ("openconfig-local-routing", "2024-01-01", "file"),
            ("ietf-netconf-monitoring", None, "module ietf-netconf-monitoring"),
            ("ietf-netconf", None, "leaf candidate"),
            ("ietf-inet-types", "2013-07-15", "module ietf-inet-types"),
            ("openconfig-local-routing", "1999-01-01", "invalid-value"),
            ("no-such-module", None, "invalid-value")):
        try:
            text = m.get_schema(name, version=version).data
        except RPCError as e:
            text = e.tag
        if expect == "file":
            with open(os.path.join(YANG_DIR, name + ".yang")) as f:
                check(text == f.read(), "get-schema %s returns the module file" % name)
        else:
            check(expect in text, "get-schema %s@%s: %s" % (name, version, text[:60]))

    # <get> answers the data of both modules and the monitoring data, whole
    # and through subtree filters that mix them.
    sid = m.session_id
    for flt, paths in (
            (None, ["nat:router-static", "oc:local-routes//oc:static/oc:state",
                    "ncm:netconf-state/ncm:sessions", "yl:yang-library"]),
            ('<netconf-state xmlns="%s"><schemas/></netconf-state>' % NCM,
             ["ncm:netconf-state/ncm:schemas/ncm:schema[ncm:identifier='openconfig-local-routing']"
              "[ncm:location='NETCONF']",
              "ncm:netconf-state/ncm:schemas/ncm:schema[ncm:identifier='Velmo-Ornat-ip-static-cfg']"]),
            ('<netconf-state xmlns="%s"><sessions><session><session-id>%s</session-id></session>'
             "</sessions></netconf-state>" % (NCM, sid),
             ["ncm:netconf-state/ncm:sessions/ncm:session[ncm:session-id=%s][ncm:username='alice']"
              "/ncm:in-rpcs" % sid]),
            ('<yang-library xmlns="%s"/>' % YANGLIB,
             ["yl:yang-library//yl:module[yl:name='openconfig-local-routing']",
              "yl:yang-library//yl:module[yl:name='Velmo-Ornat-ip-static-cfg']"]),
            ('<local-routes xmlns="%s"/><netconf-state xmlns="%s"><capabilities/></netconf-state>'
             % (OC, NCM), ["ncm:netconf-state/ncm:capabilities/ncm:capability",
                           "oc:local-routes//oc:static[oc:prefix='10.0.0.0/8']"]),
            ('<routes xmlns="urn:example:unknown"/>', [])):
        data = data_of(m.get(filter=subtree(flt)) if flt else m.get())
        for path in paths:
            check(data.xpath(path, namespaces=NS), "get %s selects %s" % (flt, path))
        if not paths:
            check(len(data) == 0, "filter %s selects nothing" % flt)
        if flt and "<schemas/>" in flt:
            check(len(data) == 1 and not data.xpath("//ncm:sessions", namespaces=NS),
                  "the schemas filter selects the schemas only")
        if flt and "<session-id>" in flt:
            check(len(data.xpath("//ncm:session", namespaces=NS)) == 1, "one session selected")
    m.close_session()


def group_operations(srv):
    """Every operation in both views: each row's request, then what running
    and the candidate hold, read in both views."""
    m = srv.connect()
    R1 = routes_with(R0, **{"198_51_100_0__24": {"192.0.2.9": "7"}})
    R2 = routes_with(R1, **{"198_51_100_0__24": {"192.0.2.9": "7", "192.0.2.10": "3"}})
    R3 = routes_with(R0, **{"198_51_100_0__24": {"192.0.2.11": "1"}})
    R4 = routes_with(R3, **{"203_0_113_0__24": {"192.0.2.20": None}})
    R5 = routes_with(R0, **{"198_51_100_0__24": {"192.0.2.12": "2"}})
    R6 = routes_with(R5, **{"10_0_0_0__8": {"192.0.2.1": "5", "192.0.2.30": None}})
    R7 = routes_with(R0, **{"198_51_100_0__24": {"192.0.2.9": "7"}})
    R8 = routes_with(R7, **{"203_0_113_0__24": {"192.0.2.20": "4"}})
    R9 = routes_with(R7, **{"203_0_113_0__24": {"192.0.2.21": None}})
    R10 = routes_with(R7, **{"10_50_0_0__16": {"192.0.2.50": "6"}})
    R11 = routes_with(R7, **{"203_0_113_0__24": {"192.0.2.20": "9"}})

    def edit(content, target="running", **kwargs):
        return lambda: m.edit_config(target=target, config=config(content), **kwargs)

    def both(*calls):
        return lambda: [c() for c in calls]

    same = object()  # the candidate holds what running holds
    for what, call, running, candidate in (
            ("merge (OpenConfig) makes a route",
             edit(oc(static("198.51.100.0/24", hop("1", "192.0.2.9", 7)))), R1, same),
            ("merge (native) adds a next-hop",
             edit(native(vrf_prefix("198.51.100.0/24", nat_hop("192.0.2.10", 3)))), R2, same),
            ("replace (OpenConfig) of a route",
             edit(oc(static("198.51.100.0/24", hop("1", "192.0.2.11", 1), op="replace"))), R3,
             same),
            ("create (native) of a route",
             edit(native(vrf_prefix("203.0.113.0/24", nat_hop("192.0.2.20"), op="create"))), R4,
             same),
            ("delete (OpenConfig) of a route", edit(oc(static("203.0.113.0/24", op="delete"))),
             R3, same),
            ("remove (native) of an absent route",
             edit(native(vrf_prefix("203.0.113.0/24", op="remove"))), R3, same),
            ("remove (OpenConfig) of an absent route",
             edit(oc(static("203.0.113.0/24", op="remove"))), R3, same),
            ("replace (native) of a route",
             edit(native(vrf_prefix("198.51.100.0/24", nat_hop("192.0.2.12", 2), op="replace"))),
             R5, same),
            ("test-only changes nothing",
             edit(oc(static("203.0.113.0/24", hop("1", "192.0.2.20"), op="create")),
                  test_option="test-only"), R5, same),
            ("default-operation none (native): a leaf without an operation stays",
             edit(native(vrf_prefix("10.0.0.0/8", nat_hop("192.0.2.1", 99),
                                    nat_hop("192.0.2.30", op="create"))),
                  default_operation="none"), R6, same),
            ("default-operation none (OpenConfig): only the delete acts",
             edit(oc(static("10.0.0.0/8", hop("**192.0.2.30**", op="delete"), tag=77)),
                  default_operation="none"), R5, same),
            ("default-operation replace (native): the datastore becomes the content",
             edit(native(vrf_prefix("10.0.0.0/8", nat_hop("192.0.2.1", 5))),
                  default_operation="replace"), R0, same),
            ("default-operation replace (OpenConfig)",
             edit(oc(static("10.0.0.0/8", hop("1", "192.0.2.1", 5)),
                     static("198.51.100.0/24", hop("1", "192.0.2.9", 7))),
                  default_operation="replace"), R7, same),
            ("one edit, native then OpenConfig: the mapping sees the first part",
             edit(native(vrf_prefix("10.50.0.0/16", nat_hop("192.0.2.50"))) +
                  oc(static("10.50.0.0/16", hop("**192.0.2.50**", metric=6)))), R10, same),
            ("delete (native) of a route",
             edit(native(vrf_prefix("10.50.0.0/16", op="delete"))), R7, same),
            ("create (OpenConfig) in the candidate",
             edit(oc(static("203.0.113.0/24", hop("1", "192.0.2.20", 4), op="create")),
                  "candidate"), R7, R8),
            ("the mapping's lookups see the candidate",
             edit(oc(static("203.0.113.0/24", hop("1", metric=9))), "candidate"), R7, R11),
            ("validate of the candidate", lambda: m.validate("candidate"), R7, R11),
            ("validate of inline content",
             lambda: m.validate(etree.fromstring(config(native(vrf_prefix("10.1.0.0/16")))))
             , R7, R11),
            ("running's lookups see running while the candidate differs",
             both(edit(oc(static("198.51.100.0/24", op="delete")), "candidate"),
                  edit(oc(static("198.51.100.0/24", hop("1", metric=7))))),
             R7, routes_with(R11, **{"198_51_100_0__24": None})),
            ("discard-changes", lambda: m.discard_changes(), R7, same),
            ("edit (native) of the candidate, commit",
             both(edit(native(vrf_prefix("203.0.113.0/24", nat_hop("192.0.2.21"))), "candidate"),
                  m.commit), R9, same),
            ("copy-config candidate to running",
             both(edit(oc(static("203.0.113.0/24", op="delete")), "candidate"),
                  lambda: m.copy_config(source="candidate", target="running")), R7, same),
            ("copy-config running to candidate drops its changes",
             both(edit(native(vrf_prefix("203.0.113.0/24", nat_hop("192.0.2.21"))), "candidate"),
                  lambda: m.copy_config(source="running", target="candidate")), R7, same),
            ("copy-config of inline content to the candidate",
             lambda: m.copy_config(
                 source='<source xmlns="%s">%s</source>' % (BASE, config(oc(static(
                     "10.0.0.0/8", hop("1", "192.0.2.1", 5))))), target="candidate"), R7, R0),
            ("delete-config of the candidate", lambda: m.delete_config("candidate"), R7, {}),
            ("discard-changes after a delete-config", lambda: m.discard_changes(), R7, same)):
        call()
        got = (views(m), views(m, "candidate"))
        want = (running, running if candidate is same else candidate)
        check(got == want, "%s: running, candidate %s, expected %s" % (what, got, want))

    # Committed means written: the store file reads back the same.
    stored = srv.ocmap_run("get-config", "--store", srv.store)
    check(stored.returncode == 0 and "198.51.100.0/24" in stored.stdout, "the store file holds R7")

    # Reads through subtree filters, in each view.
    for flt, want in (
            (oc(static("198.51.100.0/24")), {"oc": ["198.51.100.0/24"], "nat": []}),
            (native(vrf_prefix("10.0.0.0/8")), {"oc": [], "nat": ["10.0.0.0"]}),
            ('<router-static xmlns="%s"><default-vrf><address-family><vrfipv4><vrf-unicast>'
             "<vrf-prefixes><vrf-prefix><prefix-length>24</prefix-length></vrf-prefix>"
             "</vrf-prefixes></vrf-unicast></vrfipv4></address-family></default-vrf>"
             "</router-static>" % NATIVE, {"oc": [], "nat": ["198.51.100.0"]}),
            (oc() + native(), {"oc": ["10.0.0.0/8", "198.51.100.0/24"],
                               "nat": ["10.0.0.0", "198.51.100.0"]})):
        data = data_of(m.get_config("running", filter=subtree(flt)))
        got = {"oc": [p.text for p in data.iterfind("oc:local-routes//oc:static/oc:prefix", NS)],
               "nat": [p.text for p in data.iterfind("nat:router-static//nat:vrf-prefix/nat:prefix",
                                                     NS)]}
        check(got == want, "filter %s selects %s, expected %s" % (flt, got, want))
    # A route named by its prefix reads back whole, set-tag included, in
    # either family.
    m.edit_config(target="running", config=config(oc(
        static("198.51.100.0/24", tag=42),
        static("2001:db8:5::/64", hop("1", "2001:db8::1"), tag=43))))
    for prefix, tag, next_hop in (("198.51.100.0/24", "42", "192.0.2.9"),
                                  ("2001:db8:5::/64", "43", "2001:db8::1")):
        data = data_of(m.get_config("running", filter=subtree(oc(
            "<static><prefix>%s</prefix></static>" % prefix))))
        got = [(r.findtext("oc:prefix", namespaces=NS),
                r.findtext("oc:config/oc:set-tag", namespaces=NS),
                r.findtext("oc:next-hops/oc:next-hop/oc:config/oc:next-hop", namespaces=NS))
               for r in data.iterfind("oc:local-routes//oc:static", NS)]
        check(got == [(prefix, tag, next_hop)], "the route %s read by its prefix: %s" % (prefix, got))
    state = data_of(m.get(filter=subtree(oc("<static><prefix>10.0.0.0/8</prefix></static>"))))
    check(state.xpath("oc:local-routes//oc:static/oc:state/oc:prefix[.='10.0.0.0/8']",
                      namespaces=NS), "get answers the state leaves")
    m.close_session()


def group_errors(srv):
    """Every error tag from a real request; a refused request changes
    nothing in either datastore, nor in the store file."""
    m = srv.connect()
    m.edit_config(target="candidate", config=config(oc(static("10.1.0.0/16",
                                                              hop("1", "192.0.2.1")))))
    before = (views(m), views(m, "candidate"), srv.store_bytes())

    def edit(content, target="running", **kwargs):
        return lambda: m.edit_config(target=target, config=config(content), **kwargs)

    for what, call, tag, app_tag, words, bad in (
            ("create of an existing route", edit(oc(static("10.0.0.0/8", op="create"))),
             "data-exists", "0xaaf2f000", "already exists", None),
            ("create of a route the candidate holds",
             edit(native(vrf_prefix("10.1.0.0/16", op="create")), "candidate"),
             "data-exists", "0xaaf2f000", "already exists", None),
            ("delete of an absent next-hop",
             edit(native(vrf_prefix("10.0.0.0/8", nat_hop("192.0.2.99", op="delete")))),
             "data-missing", "0xaaf2f000", "does not exist", None),
            ("default-operation none to an absent route",
             edit(native(vrf_prefix("10.99.0.0/16", nat_hop("192.0.2.1"))),
                  default_operation="none"), "data-missing", None, "must exist", "vrf-prefix"),
            ("a prefix with host bits", edit(oc(static("10.9.0.1/16"))),
             "invalid-value", "0xaaf2f100", "bits set beyond the prefix length", None),
            ("a metric out of range",
             edit(native(vrf_prefix("10.0.0.0/8", nat_hop("192.0.2.1", 4294967296)))),
             "invalid-value", "0xaaf2f100", "4294967296", None),
            ("the plug-in's own refusal",
             edit(oc(static("10.0.0.0/8", hop("1", "oc-loc-rt:LOCAL_LINK")))),
             "invalid-value", "0xaaf29e00", "Interface configuration is must", None),
            ("state data in an edit, refused by the plug-in naming the node",
             edit(oc(static("10.0.0.0/8").replace("</static>", "<state/></static>"))),
             "unknown-element", "0xaaf2e600", "Unsupported tag", "state"),
            ("an unknown element",
             edit(oc().replace("<static-routes>", "<static-routes><bogus/>")),
             "unknown-element", "0xaaf2f100", "<bogus>", "bogus"),
            ("a leaf given twice",
             edit(oc(static("10.2.0.0/16").replace("</prefix></config>",
                                                   "</prefix><prefix>10.2.0.0/16</prefix>"
                                                   "</config>"))),
             "bad-element", "0xaaf2f100", "given twice", "prefix"),
            ("a leaf without a mapping",
             edit('<local-routes xmlns="%s"><local-aggregates><aggregate><prefix>10.0.0.0/8'
                  "</prefix><config><discard>true</discard></config></aggregate>"
                  "</local-aggregates></local-routes>" % OC),
             "operation-not-supported", "0x00000033", "no mapping", None),
            ("content in an unknown namespace", edit('<routes xmlns="urn:example:x"/>'),
             "unknown-namespace", None, "urn:example:x", "routes"),
            ("the second element refused after the first applied",
             edit(oc(static("10.3.0.0/16", hop("1", "192.0.2.3"))) +
                  native(vrf_prefix("10.0.0.0/8", op="create"))),
             "data-exists", "0xaaf2f000", "already exists", None),
            ("validate of inline content that is refused",
             lambda: m.validate(etree.fromstring(config(oc(static("10.9.0.1/16"))))),
             "invalid-value", "0xaaf2f100", "bits set", None),
            ("an xpath filter",
             lambda: m.get(filter=("xpath", ({"ncm": NCM}, "/ncm:netconf-state"))),
             "operation-not-supported", None, "subtree", None),
            ("a config of text alone, replacing running",
             lambda: m.edit_config(target="running", default_operation="replace",
                                   config='<config xmlns="%s">oops</config>' % BASE),
             "invalid-value", None, "holds text", "config"),
            ("copy-config of running to itself",
             lambda: m.copy_config(source="running", target="running"),
             "invalid-value", None, "to itself", None),
            ("unlock of a datastore nobody locked", lambda: m.unlock("running"),
             "operation-failed", None, "not locked", None),
            ("delete-config of running",
             lambda: m.delete_config("running"), "operation-failed", None, "running", None)):
        e = rpc_error(call)
        check(e is not None, what + ": accepted")
        got = (e.tag, e.app_tag, words in (e.message or ""), error_info(e, "bad-element"))
        want = (tag, app_tag, True, bad)
        check(got == want, "%s: got %s (%s), expected %s" % (what, got, e.message, want))
        after = (views(m), views(m, "candidate"), srv.store_bytes())
        check(after == before, what + ": the refused request changed the data")

    # The candidate a refused edit was aimed at is as modified as before:
    # its one edit is still there to commit.
    m.commit()
    check(views(m) == before[1], "the candidate's own edit survives the refusals")

    # Malformed messages: answered, and the session goes on. Parse failures
    # are libnetconf2's answers (malformed-message when nothing parses, else
    # operation-failed with libyang's message).
    raw = RawSession(srv)
    for body, tag, words in (
            ("!this is not XML", "malformed-message", None),
            ('!<rpc xmlns="%s" message-id="1"><get>' % BASE, "operation-failed", "end-of-input"),
            ("<get-config><source><running/></get-config>", "operation-failed", "mismatch"),
            ('<frobnicate xmlns="urn:example:x"/>', "operation-failed", "urn:example:x"),
            ("<kill-session><session-id>abc</session-id></kill-session>", "operation-failed",
             "abc"),
            ("<edit-config><config/></edit-config>", "missing-element", "config-target"),
            ("<lock/>", "missing-element", "target")):
        reply = raw.send(body[1:]) if body[0] == "!" else raw.rpc(body)
        error = reply.find("nc:rpc-error", NS)
        check(error is not None and error.findtext("nc:error-tag", namespaces=NS) == tag,
              "%s: %s" % (body, etree.tostring(reply)[:300]))
        check(words is None or words in (error.findtext("nc:error-message", namespaces=NS) or ""),
              "%s: the message names %s" % (body, words))
        reply = raw.rpc("<get-config><source><running/></source></get-config>", "2")
        check(reply.find("nc:data/nat:router-static", NS) is not None,
              "the session works after " + body)
    raw.close()

    # A store file someone broke is refused, not answered from or written
    # over, until it is fixed.
    good = srv.store_bytes()
    with open(srv.store, "w") as f:
        f.write("<router-static")
    e = rpc_error(m.get_config, "running")
    check(e is not None and e.tag == "operation-failed" and srv.store in e.message,
          "a broken store file: %s" % (e and e.message))
    e = rpc_error(m.edit_config, target="running", config=config(oc(static("10.4.0.0/16"))))
    check(e is not None and e.tag == "operation-failed", "no edit over a broken store file")
    with open(srv.store, "wb") as f:
        f.write(good)
    check(views(m) == before[1], "the fixed store file is read again")
    m.close_session()


def group_locks(srv):
    a, b = srv.connect(), srv.connect()
    a.lock("running")
    e = rpc_error(b.lock, "running")
    check(e is not None and e.tag == "lock-denied" and e.type == "protocol" and
          error_info(e, "session-id") == a.session_id, "lock-denied names the holder")
    state = data_of(b.get(filter=subtree('<netconf-state xmlns="%s"><datastores/>'
                                         "</netconf-state>" % NCM)))
    check(state.xpath("//ncm:datastore[ncm:name='running']//ncm:locked-by-session[.=%s]"
                      % a.session_id, namespaces=NS), "netconf-state shows the lock")
    route = config(oc(static("10.5.0.0/16", hop("1", "192.0.2.5"))))
    for what, call in (("edit-config", lambda: b.edit_config(target="running", config=route)),
                       ("copy-config", lambda: b.copy_config(source="candidate", target="running")),
                       ("commit", b.commit)):
        e = rpc_error(call)
        check(e is not None and e.tag == "in-use" and e.type == "protocol",
              what + " of a datastore another session locked is in-use")
    check(views(b) == R0, "reads ignore locks, and the refused edits changed nothing")
    a.edit_config(target="running", config=route)
    check("10.5.0.0/16" in views(b), "the holder edits")
    e = rpc_error(b.unlock, "running")
    check(e is not None and e.tag == "operation-failed", "unlock of another's lock fails")
    a.unlock("running")
    a.lock("candidate")
    e = rpc_error(b.copy_config, source="candidate", target="running")
    check(e is not None and e.tag == "in-use",
          "copy-config from a candidate another session locked is in-use, as its commit is")
    a.unlock("candidate")

    # Locks end with their session: close, a dropped connection, a kill.
    for how in ("close-session", "dropped", "kill-session"):
        if how == "dropped":
            raw = RawSession(srv)
            raw.rpc('<lock><target><running/></target></lock>')
            raw.close()
        else:
            c = srv.connect()
            c.lock("running")
            if how == "close-session":
                c.close_session()
            else:
                b.kill_session(c.session_id)
        deadline = time.time() + 3
        while rpc_error(b.lock, "running") is not None:
            check(how == "dropped" and time.time() < deadline, "lock released by " + how)
            time.sleep(0.05)
        b.unlock("running")
    try:
        c.get_config("running")
        check(False, "a killed session still answers")
    except (RPCError, ncclient.NCClientError):
        pass
    for victim in (b.session_id, "424242"):
        e = rpc_error(b.kill_session, victim)
        check(e is not None and e.tag == "invalid-value", "kill-session %s refused" % victim)

    # A modified candidate cannot be locked; unlocking a modified candidate
    # discards it, and so does the end of the session that locked it.
    changed = config(native(vrf_prefix("10.6.0.0/16", nat_hop("192.0.2.6"))))
    b.edit_config(target="candidate", config=changed)
    e = rpc_error(a.lock, "candidate")
    check(e is not None and e.tag == "lock-denied" and error_info(e, "session-id") == "0",
          "lock of a modified candidate is denied")
    b.discard_changes()
    a.lock("candidate")
    e = rpc_error(b.edit_config, target="candidate", config=changed)
    check(e is not None and e.tag == "in-use", "edit of a locked candidate is in-use")
    a.edit_config(target="candidate", config=changed)
    check("10.6.0.0/16" in views(b, "candidate"), "the holder's candidate edit")
    a.unlock("candidate")
    check(views(b, "candidate") == views(b), "unlock discards uncommitted changes")
    c = srv.connect()
    c.lock("candidate")
    c.edit_config(target="candidate", config=changed)
    c.close_session()
    check(views(b, "candidate") == views(b), "the end of the session discards them too")
    b.lock("candidate")
    b.unlock("candidate")
    a.close_session()
    b.close_session()


def group_concurrency(srv):
    # A client that connects and says nothing, and one that logs in and
    # never sends <hello>, hold only their own handshake.
    silent = socket.create_connection(("127.0.0.1", srv.port))
    mute = RawSession(srv, hello=False)
    start = time.time()
    m = srv.connect()
    m.get_config("running")
    check(time.time() - start < 3, "a silent client delays others by %.1f s" % (time.time() - start))

    # Two sessions editing different routes at once, one in each view:
    # every edit lands.
    other = srv.connect()
    errors = []

    def work(session, make):
        try:
            for i in range(12):
                session.edit_config(target="running", config=config(make(i)))
        except Exception as e:  # reported below
            errors.append(repr(e))

    threads = [threading.Thread(target=work, args=args) for args in (
        (m, lambda i: oc(static("10.10.%d.0/24" % i, hop("1", "192.0.2.10")))),
        (other, lambda i: native(vrf_prefix("10.20.%d.0/24" % i, nat_hop("192.0.2.20")))))]
    for t in threads:
        t.start()
    for t in threads:
        t.join(60)
    check(not errors and not any(t.is_alive() for t in threads), "concurrent sessions: %s" % errors)
    routes = views(other)
    check(all("10.10.%d.0/24" % i in routes and "10.20.%d.0/24" % i in routes for i in range(12)),
          "both sessions' edits landed: %s" % sorted(routes))

    # An `ocmap edit --apply` beside the server: the next read sees it, and
    # the server's next edit keeps it.
    outside = srv.ocmap_run("edit", "--store", srv.store, "--apply", "-",
                            stdin=config(oc(static("10.30.0.0/24", hop("1", "192.0.2.30")))))
    check(outside.returncode == 0, "outside apply: " + outside.stderr)
    check("10.30.0.0/24" in views(m), "the outside apply is seen by the next get-config")
    m.edit_config(target="running", config=config(oc(static("10.31.0.0/24",
                                                             hop("1", "192.0.2.31")))))
    stored = srv.ocmap_run("get-config", "--store", srv.store).stdout
    check("10.30.0.0/24" in stored and "10.31.0.0/24" in stored, "neither update is lost")
    # Nor is one that lands while the candidate holds changes: the candidate
    # follows running beside its own routes, and its commit keeps both.
    m.edit_config(target="candidate", config=config(oc(static("10.32.0.0/24",
                                                              hop("1", "192.0.2.32")))))
    outside = srv.ocmap_run("edit", "--store", srv.store, "--apply", "-",
                            stdin=config(oc(static("10.33.0.0/24", hop("1", "192.0.2.33")))))
    check(outside.returncode == 0, "outside apply: " + outside.stderr)
    check("10.33.0.0/24" in views(m, "candidate"), "the candidate follows running")
    m.commit()
    stored = srv.ocmap_run("get-config", "--store", srv.store).stdout
    check("10.32.0.0/24" in stored and "10.33.0.0/24" in stored,
          "a commit after an outside apply keeps both")

    # SIGTERM with established sessions and both stuck handshakes.
    start = time.time()
    rc = srv.stop()
    check(rc == 0, "exit status after SIGTERM: %s" % rc)
    check(time.time() - start < 5, "shutdown took %.1f s" % (time.time() - start))
    silent.close()
    mute.close()


def group_crash(srv):
    """SIGKILL while a commit writes the store: the file is the old store or
    the new one, never a torn one, and the next server starts on it."""
    temporary = os.path.basename(srv.store) + ".tmp."
    for attempt in range(4):
        m = srv.connect()
        prefix = "10.40.%d.0/24" % attempt
        m.edit_config(target="candidate", config=config(oc(static(prefix, hop("1", "192.0.2.4")))))
        old = srv.store_bytes()
        # An earlier attempt's leftover is not this commit's write.
        leftovers = {n for n in os.listdir(srv.work) if n.startswith(temporary)}
        done = threading.Event()

        def commit():
            try:
                m.commit()
            except Exception:  # the server dies under it
                pass
            done.set()

        threading.Thread(target=commit, daemon=True).start()
        if attempt % 2 == 0:
            # While the new store is being written beside the old one.
            deadline = time.time() + 20
            while not any(n.startswith(temporary) and n not in leftovers
                          for n in os.listdir(srv.work)):
                check(not done.is_set() and time.time() < deadline, "no write was seen")
        else:
            time.sleep(random.uniform(0, 0.05))  # anywhere in the commit
        srv.proc.kill()
        srv.proc.wait()
        done.wait(10)
        now = srv.store_bytes()
        check(now == old or (prefix in srv.ocmap_run("get-config", "--store", srv.store).stdout),
              "attempt %d: the store is neither the old nor the new one" % attempt)
        check(attempt % 2 or now == old, "killed before the rename, the store is the old one")
        srv.start()
        m = srv.connect()
        data = data_of(m.get_config("running", filter=subtree(oc(
            "<static><prefix>%s</prefix></static>" % prefix))))
        check(bool(data.xpath("//oc:static", namespaces=NS)) == (now != old),
              "the restarted server reads the store file")
        m.close_session()
    # The temporary file a killed writer left is removed by the next write.
    m = srv.connect()
    m.edit_config(target="running", config=config(oc(static("10.41.0.0/24",
                                                             hop("1", "192.0.2.4")))))
    check(not any(n.startswith(temporary) for n in os.listdir(srv.work)),
          "a killed writer's temporary file is left behind")
    m.close_session()


def group_yangcli(srv):
    home = os.path.join(srv.work, "home")
    os.makedirs(home, exist_ok=True)
    result = subprocess.run(
        ["yangcli", "--server=127.0.0.1", "--ncport=%d" % srv.port, "--user=alice",
         "--password=" + PASSWORD, "--batch-mode", "--autohistory=false", "--autoaliases=false",
         "--autouservars=false", "--run-command=sget-config source=running /router-static"],
        env=dict(os.environ, HOME=home), stdin=subprocess.DEVNULL, capture_output=True, text=True,
        timeout=60)
    out = result.stdout + result.stderr
    # yangcli shows the data through the module it fetched with get-schema,
    # hence the list entry named by its keys.
    check(result.returncode == 0 and "vrf-prefix 10.0.0.0 8" in out and "metric 5" in out,
          "yangcli get-config:\n" + out[-2000:])


def crash_store():
    # Large enough that writing it takes a while, so the kill can land in
    # the middle of a write.
    return store_text({"11.%d.%d.0/24" % (i // 256, i % 256): {"192.0.2.1": "1", "192.0.2.2": "2"}
                       for i in range(20000)})


GROUPS = {"session": group_session, "operations": group_operations, "errors": group_errors,
          "locks": group_locks, "concurrency": group_concurrency, "crash": group_crash,
          "yangcli": group_yangcli}


def main():
    ocmap, group = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory() as work:
        srv = Server(ocmap, work, crash_store() if group == "crash" else None)
        try:
            GROUPS[group](srv)
            if srv.proc.poll() is None:
                sig = signal.SIGINT if group == "yangcli" else signal.SIGTERM
                rc = srv.stop(sig)
                check(rc == 0, "exit status after %s: %s" % (sig.name, rc))
        except Exception:
            if srv.proc.poll() is None:
                srv.proc.kill()
            raise
    print("netconf.%s: passed" % group)


if __name__ == "__main__":
    main()
