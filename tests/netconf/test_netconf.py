#!/usr/bin/python3
"""ocmap serve's NETCONF server against real clients.

Usage: test_netconf.py FAKE_SERVER GROUP

Starts FAKE_SERVER (the server over a fake backend that logs every call it
gets) on a free loopback port with keys and a password made here, and runs
one group of cases with ncclient, a raw NETCONF 1.1 client on paramiko (for
messages ncclient will not send) and yangcli.
"""
import json
import os
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
STORE = ('<router-static xmlns="%s"><default-vrf><address-family><vrfipv4><vrf-unicast>'
         '<vrf-prefixes><vrf-prefix><prefix>10.0.0.0</prefix><prefix-length>8</prefix-length>'
         '<vrf-route><vrf-next-hop-table><vrf-next-hop-next-hop-address>'
         '<next-hop-address>192.0.2.1</next-hop-address><metric>5</metric>'
         '</vrf-next-hop-next-hop-address></vrf-next-hop-table></vrf-route></vrf-prefix>'
         '</vrf-prefixes></vrf-unicast></vrfipv4></address-family></default-vrf></router-static>'
         % NATIVE)
PASSWORD = "s3cret pass"


def config(content):
    # In the NETCONF namespace: libyang (so libnetconf2) refuses an
    # unqualified <config> ("Missing XML namespace."), which ncclient sends
    # as given.
    return '<config xmlns="%s">%s</config>' % (BASE, content)


def subtree(content):
    return '<filter xmlns="%s" type="subtree">%s</filter>' % (BASE, content)


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


class Server:
    def __init__(self, binary, work):
        self.binary, self.work = binary, work
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
        with open(os.path.join(work, "store.xml"), "w") as f:
            f.write(STORE)
        self.log_path = os.path.join(work, "backend.log")
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
                [self.binary, "--port", str(self.port), "--host-key", host_key,
                 "--user", "alice", "--authorized-keys", os.path.join(self.work, "authorized_keys"),
                 "--password-file", os.path.join(self.work, "password"),
                 "--store", os.path.join(self.work, "store.xml"), "--log", self.log_path],
                stdout=subprocess.PIPE, text=True)
            ready, _, _ = select.select([self.proc.stdout], [], [], 10)
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

    def log(self):
        with open(self.log_path) as f:
            return [json.loads(line) for line in f]

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


def get_data(reply):
    return reply.data_ele if hasattr(reply, "data_ele") else reply


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

    # get-schema: the data modules exactly as written, others printed.
    for name, version, expect in (
            ("Velmo-Ornat-ip-static-cfg", None, "file"),
            ("openconfig-local-routing", "2024-01-01", "file"),
            ("ietf-netconf-monitoring", None, "module ietf-netconf-monitoring"),
            ("ietf-inet-types", "2013-07-15", "module ietf-inet-types"),
            ("openconfig-local-routing", "1999-01-01", "data-missing"),
            ("no-such-module", None, "data-missing")):
        try:
            text = m.get_schema(name, version=version).data
        except RPCError as e:
            text = e.tag
        if expect == "file":
            with open(os.path.join(YANG_DIR, name + ".yang")) as f:
                check(text == f.read(), "get-schema %s returns the module file" % name)
        else:
            check(expect in text, "get-schema %s@%s: %s" % (name, version, text[:60]))

    # Monitoring data, whole and through subtree filters; the backend gets
    # only its own namespaces' filter parts.
    sid = m.session_id
    cases = (
        (None, ["nat:router-static", "ncm:netconf-state/ncm:sessions", "yl:yang-library"], ""),
        ('<netconf-state xmlns="%s"><schemas/></netconf-state>' % NCM,
         ["ncm:netconf-state/ncm:schemas/ncm:schema[ncm:identifier='openconfig-local-routing']"
          "[ncm:location='NETCONF']",
          "ncm:netconf-state/ncm:schemas/ncm:schema[ncm:identifier='Velmo-Ornat-ip-static-cfg']"],
         None),
        ('<netconf-state xmlns="%s"><sessions><session><session-id>%s</session-id></session>'
         "</sessions></netconf-state>" % (NCM, sid),
         ["ncm:netconf-state/ncm:sessions/ncm:session[ncm:session-id=%s][ncm:username='alice']"
          "/ncm:in-rpcs" % sid], None),
        ('<yang-library xmlns="%s"/>' % YANGLIB,
         ["yl:yang-library//yl:module[yl:name='openconfig-local-routing']",
          "yl:yang-library//yl:module[yl:name='Velmo-Ornat-ip-static-cfg']"], None),
        ('<local-routes xmlns="%s"/><netconf-state xmlns="%s"><capabilities/></netconf-state>'
         % (OC, NCM), ["ncm:netconf-state/ncm:capabilities/ncm:capability"],
         '<local-routes xmlns="%s"/>' % OC),
        ('<routes xmlns="urn:example:unknown"/>', [], None),
    )
    for flt, paths, backend_filter in cases:
        before = len(srv.log())
        reply = m.get(filter=subtree(flt)) if flt else m.get()
        data = get_data(reply)
        for path in paths:
            check(data.xpath(path, namespaces=NS), "get %s selects %s" % (flt, path))
        if not paths:
            check(len(data) == 0, "filter %s selects nothing" % flt)
        if flt and "schemas" in flt:
            check(not data.xpath("//ncm:sessions", namespaces=NS), "schemas filter leaves sessions")
        if flt and "<session-id>" in flt:
            check(len(data.xpath("//ncm:session", namespaces=NS)) == 1, "one session selected")
        calls = srv.log()[before:]
        if backend_filter is None:
            check(calls == [], "filter %s does not reach the backend" % flt)
        else:
            check(calls == [{"op": "get", "ds": "running", "state": True,
                             "filter": backend_filter}], "backend call for %s: %s" % (flt, calls))
    m.close_session()


def group_locks(srv):
    a, b = srv.connect(), srv.connect()
    a.lock("running")
    e = rpc_error(b.lock, "running")
    check(e is not None and e.tag == "lock-denied" and e.type == "protocol" and
          error_info(e, "session-id") == a.session_id, "lock-denied names the holder")
    state = get_data(b.get(filter=subtree('<netconf-state xmlns="%s"><datastores/>'
                                          "</netconf-state>" % NCM)))
    check(state.xpath("//ncm:datastore[ncm:name='running']//ncm:locked-by-session[.=%s]"
                      % a.session_id, namespaces=NS), "netconf-state shows the lock")
    empty = config('<router-static xmlns="%s"/>' % NATIVE)
    for what, call in (("edit-config", lambda: b.edit_config(target="running", config=empty)),
                       ("copy-config", lambda: b.copy_config(source="candidate", target="running")),
                       ("commit", b.commit)):
        e = rpc_error(call)
        check(e is not None and e.tag == "in-use" and e.type == "protocol",
              what + " of a datastore another session locked is in-use")
    check(rpc_error(b.get_config, "running") is None, "reads ignore locks")
    check(rpc_error(a.edit_config, target="running", config=empty) is None, "the holder edits")
    e = rpc_error(b.unlock, "running")
    check(e is not None and e.tag == "operation-failed", "unlock of another's lock fails")
    a.unlock("running")

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
    # discards it.
    changed = config('<router-static xmlns="%s"><changed/></router-static>' % NATIVE)
    b.edit_config(target="candidate", config=changed)
    e = rpc_error(a.lock, "candidate")
    check(e is not None and e.tag == "lock-denied" and error_info(e, "session-id") == "0",
          "lock of a modified candidate is denied")
    b.discard_changes()
    a.lock("candidate")
    e = rpc_error(b.edit_config, target="candidate", config=changed)
    check(e is not None and e.tag == "in-use", "edit of a locked candidate is in-use")
    a.edit_config(target="candidate", config=changed)
    before = len(srv.log())
    a.unlock("candidate")
    check({"op": "discard"} in srv.log()[before:], "unlock discards uncommitted changes")
    b.lock("candidate")
    b.unlock("candidate")
    a.close_session()
    b.close_session()


def group_errors(srv):
    # Messages the server must refuse without losing the session.
    # Parse failures are answered by libnetconf2 itself (malformed-message
    # when nothing parses, else operation-failed with libyang's message);
    # RPCs that parse but do not validate are ours.
    raw = RawSession(srv)
    for body, tag, words in (
            ("!this is not XML", "malformed-message", None),
            ('!<rpc xmlns="%s" message-id="1"><get>' % BASE, "operation-failed", "end-of-input"),
            ("<get-config><source><running/></get-config>", "operation-failed", "mismatch"),
            ('<frobnicate xmlns="urn:example:x"/>', "operation-failed", "urn:example:x"),
            ("<frobnicate/>", "operation-failed", "frobnicate"),
            ("<kill-session><session-id>abc</session-id></kill-session>", "operation-failed",
             "abc"),
            ("<delete-config><target><running/></target></delete-config>", "operation-failed",
             "running"),
            ("<edit-config><config/></edit-config>", "missing-element", "config-target"),
            ("<lock/>", "missing-element", "target"),
            ('<get-config><source><running/></source><filter type="xpath" select="/x"/>'
             "</get-config>", "operation-not-supported", "subtree")):
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

    m = srv.connect()
    # Backend errors arrive field by field.
    for tag, message, path, app_tag, bad in (
            ("data-exists", "route 10.0.0.0/8 exists", "/router-static/default-vrf", "0xaaf2f000",
             ""),
            ("invalid-value", "bad metric", "/local-routes/static-routes", "", "metric"),
            ("data-missing", "no such next-hop", "", "0x80001234", ""),
            ("no-such-tag", "something else", "", "", "")):
        failing = config('<router-static xmlns="%s"><fail>%s|%s|%s|%s|%s</fail></router-static>'
                         % (NATIVE, tag, message, path, app_tag, bad))
        e = rpc_error(m.edit_config, target="running", config=failing)
        expected = {"tag": tag if tag != "no-such-tag" else "operation-failed", "type": "application",
                    "message": message, "path": path or None, "app_tag": app_tag or None}
        got = {k: getattr(e, k) for k in expected} if e else None
        check(got == expected, "backend error %s: %s" % (expected, got))
        check(error_info(e, "bad-element") == (bad or None), "bad-element of " + tag)

    # Content reaches the backend intact: empty containers, operations, and
    # the edit-config options.
    for call, expect in (
            (lambda: m.get_config("running", filter=subtree('<local-routes xmlns="%s"/>' % OC)),
             {"op": "get", "filter": '<local-routes xmlns="%s"/>' % OC}),
            (lambda: m.edit_config(
                target="candidate", default_operation="replace", test_option="test-only",
                config=config('<local-routes xmlns="%s"><static-routes xmlns:nc="%s" '
                              'nc:operation="delete"/></local-routes>' % (OC, BASE))),
             {"op": "edit", "ds": "candidate", "default-operation": "replace",
              "test-option": "test-only"}),
            (lambda: m.copy_config(source='<source xmlns="%s"><config><router-static xmlns="%s"/>'
                                          "</config></source>" % (BASE, NATIVE),
                                   target="candidate"),
             {"op": "replace", "ds": "candidate", "config": '<router-static xmlns="%s"/>' % NATIVE}),
            (lambda: m.validate(source="candidate"), {"op": "validate", "ds": "candidate"})):
        call()
        last = srv.log()[-1]
        check(all(last.get(k) == v for k, v in expect.items()), "backend got %s" % last)
        if last["op"] == "edit":
            deleted = etree.fromstring(last["config"]).find("oc:static-routes", NS)
            check(deleted is not None and deleted.get("{%s}operation" % BASE) == "delete",
                  "an empty container keeps its delete: " + last["config"])

    e = rpc_error(m.edit_config, target="running",
                  config=config('<routes xmlns="urn:example:unknown"/>'))
    check(e is not None and e.tag == "unknown-namespace" and
          error_info(e, "bad-namespace") == "urn:example:unknown", "unknown namespace in <config>")
    m.close_session()


def group_concurrency(srv):
    # A client that connects and says nothing, and one that logs in and
    # never sends <hello>, hold only their own handshake.
    silent = socket.create_connection(("127.0.0.1", srv.port))
    mute = RawSession(srv, hello=False)
    start = time.time()
    m = srv.connect()
    m.get_config("running")
    check(time.time() - start < 3, "a silent client delays others by %.1f s" % (time.time() - start))

    # Two sessions working at once.
    other = srv.connect()
    errors = []

    def work(session, target):
        try:
            for i in range(15):
                session.edit_config(target=target,
                                    config=config(STORE.replace("<metric>5<", "<metric>%d<" % i)))
                session.get_config(target)
        except Exception as e:  # reported below
            errors.append(repr(e))

    threads = [threading.Thread(target=work, args=(s, t))
               for s, t in ((m, "running"), (other, "candidate"))]
    for t in threads:
        t.start()
    for t in threads:
        t.join(30)
    check(not errors and not any(t.is_alive() for t in threads), "concurrent sessions: %s" % errors)

    # SIGTERM with an established session and both stuck handshakes.
    start = time.time()
    rc = srv.stop()
    check(rc == 0, "exit status after SIGTERM: %s" % rc)
    check(time.time() - start < 5, "shutdown took %.1f s" % (time.time() - start))
    silent.close()
    mute.close()


def group_yangcli(srv):
    home = os.path.join(srv.work, "home")
    os.makedirs(home, exist_ok=True)
    before = len(srv.log())
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
    check(srv.log()[before:] == [{"op": "get", "ds": "running", "state": False,
                                  "filter": '<router-static xmlns="%s"/>' % NATIVE}],
          "yangcli's filter reached the backend")


GROUPS = {"session": group_session, "locks": group_locks, "errors": group_errors,
          "concurrency": group_concurrency, "yangcli": group_yangcli}


def main():
    binary, group = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory() as work:
        srv = Server(binary, work)
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
