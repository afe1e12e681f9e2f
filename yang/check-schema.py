#!/usr/bin/env python3
"""Check the two YANG modules of the plug-in against what its walkers assume.

The walkers are generated per schema node, and the native-side walker and
handler names carry a variant letter that is the node's ordinal among the
nodes with the same (parent, node) name pair in depth-first order.  A change
in child order, in a grouping or in a key silently renames handlers, so this
script checks:

  * both modules validate with yanglint without any message;
  * the OpenConfig tree: every node, its kind, keys, config/state and order;
  * the OpenConfig leaf types accept and refuse the values the mapping
    relies on (set-tag forms, next-hop identities);
  * the native tree: every container's and list's children and keys, the
    node counts (202 containers, 417 lists, 4,907 leaves), the maximum depth
    (15) and the variant ordinals of the nodes that produce output.

Uses `yanglint -f tree`, which prints the compiled tree with every grouping
expanded, one node per line, in schema order.  Standard library only.
Exits 0 when everything matches, 1 with the list of mismatches otherwise.
"""

import os
import re
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
OC_FILE = os.path.join(HERE, "openconfig-local-routing.yang")
NATIVE_FILE = os.path.join(HERE, "Velmo-Ornat-ip-static-cfg.yang")
OC_NS = "http://openconfig.net/yang/local-routing"

errors = []


def fail(msg):
    errors.append(msg)


def yanglint(*args):
    try:
        proc = subprocess.run(["yanglint", "-p", HERE] + list(args),
                              capture_output=True, text=True)
    except FileNotFoundError:
        sys.exit("check-schema: yanglint not found (apt-get install libyang2-tools)")
    return proc.returncode, proc.stdout, proc.stderr


# --------------------------------------------------------------------------
# tree parsing

NODE_RE = re.compile(
    r"^(?P<indent>[ |]*)\+--(?P<flags>\S+) (?P<name>[A-Za-z_][\w.:-]*)"
    r"(?P<mark>[*?!]?)(?:\s+(?P<rest>.*?))?\s*$")


class Node:
    def __init__(self, name, kind, depth, rw, keys, type_text, parent):
        self.name = name
        self.kind = kind          # container, list, leaf, leaf-list
        self.depth = depth        # router-static / local-routes = 1
        self.rw = rw              # "rw" or "ro"
        self.keys = keys
        self.type = type_text
        self.parent = parent
        self.children = []

    def path(self):
        names = []
        n = self
        while n is not None:
            names.append(n.name)
            n = n.parent
        return "/" + "/".join(reversed(names))


def parse_tree(text, module):
    """Parse `yanglint -f tree` output into nodes in depth-first order."""
    lines = text.splitlines()
    if not lines or lines[0].strip() != "module: " + module:
        sys.exit("check-schema: unexpected tree header for %s: %r"
                 % (module, lines[:1]))
    nodes = []
    stack = []
    for lineno, line in enumerate(lines[1:], 2):
        if not line.strip():
            continue
        m = NODE_RE.match(line)
        if not m:
            # Anything else (wrapped line, choice, augment section) would
            # make the count unreliable: refuse rather than guess.
            sys.exit("check-schema: cannot parse tree line %d of %s: %r"
                     % (lineno, module, line))
        depth = (len(m.group("indent")) + 1) // 3
        mark = m.group("mark")
        rest = m.group("rest") or ""
        keys = []
        if mark == "*":
            if rest == "" or rest.startswith("["):
                kind = "list"
                if rest:
                    keys = rest.strip("[]").split()
                rest = ""
            else:
                kind = "leaf-list"
        elif rest:
            kind = "leaf"
        else:
            kind = "container"
        while stack and stack[-1].depth >= depth:
            stack.pop()
        if len(stack) != depth - 1:
            sys.exit("check-schema: depth jump at tree line %d of %s"
                     % (lineno, module))
        parent = stack[-1] if stack else None
        node = Node(m.group("name"), kind, depth, m.group("flags"), keys,
                    rest, parent)
        if parent is not None:
            parent.children.append(node)
        nodes.append(node)
        stack.append(node)
    return nodes


def load(path, module):
    rc, out, err = yanglint(path)
    if rc != 0 or err.strip():
        fail("%s: yanglint reports (rc %d): %s" % (module, rc, err.strip()))
    rc, out, err = yanglint("-f", "tree", path)
    if rc != 0:
        sys.exit("check-schema: yanglint -f tree failed for %s: %s"
                 % (module, err.strip()))
    return parse_tree(out, module)


# --------------------------------------------------------------------------
# OpenConfig module

# (path relative to local-routes, kind, keys or leaf type), in schema order:
# the order in which the OpenConfig walkers expand their children.
OC_EXPECTED = [
    ("local-routes", "container", None),
    ("local-routes/config", "container", None),
    ("local-routes/state", "container", None),
    ("local-routes/static-routes", "container", None),
    ("local-routes/static-routes/static", "list", ["prefix"]),
    ("local-routes/static-routes/static/prefix", "leaf", "-> ../config/prefix"),
    ("local-routes/static-routes/static/config", "container", None),
    ("local-routes/static-routes/static/config/prefix", "leaf", None),
    ("local-routes/static-routes/static/config/set-tag", "leaf", None),
    ("local-routes/static-routes/static/state", "container", None),
    ("local-routes/static-routes/static/state/prefix", "leaf", None),
    ("local-routes/static-routes/static/state/set-tag", "leaf", None),
    ("local-routes/static-routes/static/next-hops", "container", None),
    ("local-routes/static-routes/static/next-hops/next-hop", "list", ["index"]),
    ("local-routes/static-routes/static/next-hops/next-hop/index", "leaf",
     "-> ../config/index"),
    ("local-routes/static-routes/static/next-hops/next-hop/config", "container", None),
    ("local-routes/static-routes/static/next-hops/next-hop/config/index", "leaf", None),
    ("local-routes/static-routes/static/next-hops/next-hop/config/next-hop", "leaf", None),
    ("local-routes/static-routes/static/next-hops/next-hop/config/metric", "leaf", "uint32"),
    ("local-routes/static-routes/static/next-hops/next-hop/config/recurse", "leaf", "boolean"),
    ("local-routes/static-routes/static/next-hops/next-hop/state", "container", None),
    ("local-routes/static-routes/static/next-hops/next-hop/state/index", "leaf", None),
    ("local-routes/static-routes/static/next-hops/next-hop/state/next-hop", "leaf", None),
    ("local-routes/static-routes/static/next-hops/next-hop/state/metric", "leaf", "uint32"),
    ("local-routes/static-routes/static/next-hops/next-hop/state/recurse", "leaf", "boolean"),
    ("local-routes/static-routes/static/next-hops/next-hop/interface-ref", "container", None),
    ("local-routes/static-routes/static/next-hops/next-hop/interface-ref/config", "container", None),
    ("local-routes/static-routes/static/next-hops/next-hop/interface-ref/config/interface", "leaf", "string"),
    ("local-routes/static-routes/static/next-hops/next-hop/interface-ref/config/subinterface", "leaf", "uint32"),
    ("local-routes/static-routes/static/next-hops/next-hop/interface-ref/state", "container", None),
    ("local-routes/static-routes/static/next-hops/next-hop/interface-ref/state/interface", "leaf", "string"),
    ("local-routes/static-routes/static/next-hops/next-hop/interface-ref/state/subinterface", "leaf", "uint32"),
    ("local-routes/local-aggregates", "container", None),
    ("local-routes/local-aggregates/aggregate", "list", ["prefix"]),
    ("local-routes/local-aggregates/aggregate/prefix", "leaf", "-> ../config/prefix"),
    ("local-routes/local-aggregates/aggregate/config", "container", None),
    ("local-routes/local-aggregates/aggregate/config/prefix", "leaf", None),
    ("local-routes/local-aggregates/aggregate/config/discard", "leaf", "boolean"),
    ("local-routes/local-aggregates/aggregate/config/set-tag", "leaf", None),
    ("local-routes/local-aggregates/aggregate/state", "container", None),
    ("local-routes/local-aggregates/aggregate/state/prefix", "leaf", None),
    ("local-routes/local-aggregates/aggregate/state/discard", "leaf", "boolean"),
    ("local-routes/local-aggregates/aggregate/state/set-tag", "leaf", None),
]


def check_oc(nodes):
    got = [(n.path().lstrip("/"), n.kind) for n in nodes]
    want = [(p, k) for p, k, _ in OC_EXPECTED]
    if got != want:
        for i in range(max(len(got), len(want))):
            g = got[i] if i < len(got) else None
            w = want[i] if i < len(want) else None
            if g != w:
                fail("OC tree: node %d is %s, expected %s" % (i + 1, g, w))
                break
        if len(got) != len(want):
            fail("OC tree: %d nodes, expected %d" % (len(got), len(want)))
        return
    for n, (path, kind, extra) in zip(nodes, OC_EXPECTED):
        if kind == "list" and n.keys != extra:
            fail("OC %s: keys %s, expected %s" % (path, n.keys, extra))
        if kind == "leaf" and extra is not None and n.type != extra:
            fail("OC %s: type %r, expected %r" % (path, n.type, extra))
        # State subtrees are operational data only; the walkers accept them
        # in reads with state and nowhere else.
        in_state = "state" in path.split("/")
        want_rw = "ro" if in_state else "rw"
        if n.rw != want_rw:
            fail("OC %s: %s, expected %s" % (path, n.rw, want_rw))


def oc_data(set_tag="100", next_hop="192.0.2.1"):
    return """<local-routes xmlns="%s" xmlns:oc-loc-rt="%s">
  <static-routes>
    <static>
      <prefix>10.0.0.0/8</prefix>
      <config><prefix>10.0.0.0/8</prefix><set-tag>%s</set-tag></config>
      <next-hops>
        <next-hop>
          <index>1</index>
          <config><index>1</index><next-hop>%s</next-hop><metric>10</metric></config>
        </next-hop>
      </next-hops>
    </static>
  </static-routes>
</local-routes>
""" % (OC_NS, OC_NS, set_tag, next_hop)


def check_oc_values():
    # The set-tag mapping normalises hexadecimal text (0x1F, 1f, 1F) to its
    # decimal value, so the schema must let all those forms through, and
    # must refuse what cannot be a 32-bit tag.
    cases = [
        ("set-tag", "100", True), ("set-tag", "0x1F", True),
        ("set-tag", "0X1f", True), ("set-tag", "1f", True),
        ("set-tag", "1F", True), ("set-tag", "4294967295", True),
        ("set-tag", "0xFFFFFFFF", True),
        ("set-tag", "0x1G", False), ("set-tag", "-1", False),
        ("set-tag", "0x123456789", False), ("set-tag", "", False),
        ("next-hop", "192.0.2.1", True), ("next-hop", "2001:db8::1", True),
        ("next-hop", "oc-loc-rt:DROP", True),
        ("next-hop", "oc-loc-rt:LOCAL_LINK", True),
        ("next-hop", "oc-loc-rt:LOCAL_DEFINED_NEXT_HOP", False),
        ("next-hop", "gateway", False),
    ]
    with tempfile.TemporaryDirectory() as tmp:
        for leaf, value, ok in cases:
            data = os.path.join(tmp, "data.xml")
            with open(data, "w") as f:
                if leaf == "set-tag":
                    f.write(oc_data(set_tag=value))
                else:
                    f.write(oc_data(next_hop=value))
            rc, _, err = yanglint(OC_FILE, data)
            if ok and rc != 0:
                fail("OC %s %r refused: %s" % (leaf, value, err.strip()))
            if not ok and rc == 0:
                fail("OC %s %r accepted, should be refused" % (leaf, value))


# --------------------------------------------------------------------------
# native module

NH_ATTRS = ["bfd-fast-detect", "minimum-interval", "detect-multiplier",
            "metric", "tag", "permanent", "vrf-lable", "tunnel-id",
            "object-name", "description", "load-metric", "index"]

NH_LISTS = [
    ("vrf-next-hop-interface-name", ["interface-name"]),
    ("vrf-next-hop-interface-name-next-hop-address",
     ["interface-name", "next-hop-address"]),
    ("vrf-next-hop-next-hop-address", ["next-hop-address"]),
    ("vrf-next-hop-next-hop-address-explicit-path-name",
     ["next-hop-address", "explicit-path-name"]),
    ("vrf-next-hop-explicit-path-name", ["explicit-path-name"]),
]
NH_TABLES = ["vrf-next-hop-table", "vrf-recursive-next-hop-table",
             "segment-route-next-hop-table"]
PREFIX_CHILDREN = ["prefix", "prefix-length", "vrf-route",
                   "vrf-recurse-routes", "vrf-seg-route"]
CAST_CHILDREN = ["topologies", "vrf-prefixes", "default-topology"]

# Children in order of every container and list, by node name; and keys.
NATIVE_CHILDREN = {
    "router-static": ["vrfs", "default-vrf", "maximum-routes"],
    "vrfs": ["vrf"],
    "vrf": ["vrf-name", "address-family"],
    "default-vrf": ["address-family"],
    "maximum-routes": ["ipv6-routes", "ipv4-routes"],
    "address-family": ["vrfipv4", "vrfipv6"],
    "vrfipv4": ["vrf-unicast", "vrf-multicast"],
    "vrfipv6": ["vrf-unicast", "vrf-multicast"],
    "vrf-unicast": CAST_CHILDREN,
    "vrf-multicast": CAST_CHILDREN,
    "topologies": ["topology"],
    "topology": ["topology-name", "vrf-prefix-topologies"],
    "vrf-prefix-topologies": ["vrf-prefix-topology"],
    "vrf-prefix-topology": PREFIX_CHILDREN,
    "vrf-prefixes": ["vrf-prefix"],
    "vrf-prefix": PREFIX_CHILDREN,
    "default-topology": ["vrf-prefix-topologies"],
    "vrf-route": ["vrf-next-hop-table"],
    "vrf-recurse-routes": ["vrf-recurse-route"],
    "vrf-recurse-route": ["vrf-name", "vrf-recursive-next-hop-table"],
    "vrf-seg-route": ["segment-route-next-hop-table"],
}
for _t in NH_TABLES:
    NATIVE_CHILDREN[_t] = [name for name, _ in NH_LISTS]
for _l, _k in NH_LISTS:
    NATIVE_CHILDREN[_l] = _k + NH_ATTRS

NATIVE_KEYS = {
    "vrf": ["vrf-name"],
    "topology": ["topology-name"],
    "vrf-prefix-topology": ["prefix", "prefix-length"],
    "vrf-prefix": ["prefix", "prefix-length"],
    "vrf-recurse-route": ["vrf-name"],
}
NATIVE_KEYS.update({l: k for l, k in NH_LISTS})

P4 = "/router-static/default-vrf/address-family/vrfipv4/vrf-unicast/vrf-prefixes/vrf-prefix"
P6 = "/router-static/default-vrf/address-family/vrfipv6/vrf-unicast/vrf-prefixes/vrf-prefix"


def squash(name):
    return name.replace("-", "")


def name_pair(node):
    if node.parent is None:
        return "routerstatic"
    if node.parent.parent is None:
        return "routerstatic_" + squash(node.name)
    return "routerstatic_%s_%s" % (squash(node.parent.name), squash(node.name))


def letters(n):
    """Bijective base 26: 1 -> a, 26 -> z, 27 -> aa."""
    s = ""
    while n > 0:
        n, r = divmod(n - 1, 26)
        s = chr(ord("a") + r) + s
    return "lvl" + s


def check_native(nodes):
    # structure: children and keys of every container and list
    for n in nodes:
        if n.kind == "leaf-list":
            fail("native %s: unexpected leaf-list" % n.path())
        if n.kind == "leaf":
            if n.children:
                fail("native %s: leaf with children" % n.path())
            continue
        want = NATIVE_CHILDREN.get(n.name)
        got = [c.name for c in n.children]
        if want is None:
            fail("native %s: unexpected %s" % (n.path(), n.kind))
        elif got != want:
            fail("native %s: children %s, expected %s" % (n.path(), got, want))
        if n.kind == "list" and n.keys != NATIVE_KEYS.get(n.name):
            fail("native %s: keys %s, expected %s"
                 % (n.path(), n.keys, NATIVE_KEYS.get(n.name)))
        if n.kind == "container" and n.name in NATIVE_KEYS:
            fail("native %s: should be a list" % n.path())
        if n.rw != "rw":
            fail("native %s: %s, expected rw" % (n.path(), n.rw))

    counts = {k: sum(1 for n in nodes if n.kind == k)
              for k in ("container", "list", "leaf")}
    for kind, want in (("container", 202), ("list", 417), ("leaf", 4907)):
        if counts[kind] != want:
            fail("native: %d %ss, expected %d" % (counts[kind], kind, want))
    max_depth = max(n.depth for n in nodes)
    if max_depth != 15:
        fail("native: maximum depth %d, expected 15" % max_depth)

    # variant ordinals, depth-first
    seen = {}
    ordinal = {}
    for n in nodes:
        pair = name_pair(n)
        seen[pair] = seen.get(pair, 0) + 1
        ordinal[n] = seen[pair]
    by_path = {n.path(): n for n in nodes}

    def expect(path, pair, ordn):
        n = by_path.get(path)
        if n is None:
            fail("native: missing %s" % path)
            return
        if name_pair(n) != pair or ordinal[n] != ordn:
            fail("native %s: %s %s (%d), expected %s %s (%d)"
                 % (path, name_pair(n), letters(ordinal[n]), ordinal[n],
                    pair, letters(ordn), ordn))

    expect("/router-static", "routerstatic", 1)
    expect(P4, "routerstatic_vrfprefixes_vrfprefix", 5)
    expect(P6, "routerstatic_vrfprefixes_vrfprefix", 7)
    for p, k, leaf_ord in ((P4, 14, 40), (P6, 20, 58)):
        table = p + "/vrf-route/vrf-next-hop-table"
        expect(table, "routerstatic_vrfroute_vrfnexthoptable", k)
        for lst, keys in NH_LISTS:
            expect(table + "/" + lst,
                   "routerstatic_vrfnexthoptable_" + squash(lst), k)
            for leaf in keys + NH_ATTRS:
                expect(table + "/" + lst + "/" + leaf,
                       "routerstatic_%s_%s" % (squash(lst), squash(leaf)),
                       leaf_ord)
    fifth = [n for n in nodes
             if name_pair(n) == "routerstatic_vrfnexthoptable_vrfnexthopinterfacename"
             and ordinal[n] == 5]
    want_under = "/router-static/vrfs/vrf/address-family/vrfipv4/vrf-multicast/"
    if len(fifth) != 1 or not fifth[0].path().startswith(want_under):
        fail("native: lvle of routerstatic_vrfnexthoptable_vrfnexthopinterfacename"
             " is %s, expected under %s"
             % ([n.path() for n in fifth], want_under))

    # The general rule behind those numbers: the k-th prefix context in
    # depth-first order gives its tables and next-hop lists variant k and
    # the leaves of table t's entries variant 3(k-1)+t.
    contexts = [n for n in nodes
                if n.kind == "list" and n.name in ("vrf-prefix", "vrf-prefix-topology")]
    if len(contexts) != 24:
        fail("native: %d prefix contexts, expected 24" % len(contexts))
    for k, ctx in enumerate(contexts, 1):
        tables = [n for n in nodes if n.name in NH_TABLES
                  and n.path().startswith(ctx.path() + "/")]
        for t, table in enumerate(tables, 1):
            if table.name != NH_TABLES[t - 1] or ordinal[table] != k:
                fail("native %s: %s ordinal %d, expected table %s ordinal %d"
                     % (table.path(), table.name, ordinal[table],
                        NH_TABLES[t - 1], k))
            for lst in table.children:
                if ordinal[lst] != k:
                    fail("native %s: ordinal %d, expected %d"
                         % (lst.path(), ordinal[lst], k))
                for leaf in lst.children:
                    if ordinal[leaf] != 3 * (k - 1) + t:
                        fail("native %s: ordinal %d, expected %d"
                             % (leaf.path(), ordinal[leaf], 3 * (k - 1) + t))
        if len(tables) != 3:
            fail("native %s: %d next-hop tables, expected 3"
                 % (ctx.path(), len(tables)))

    # instances per name pair
    for pair, want in (("routerstatic_vrfs", 1), ("routerstatic_defaultvrf", 1),
                       ("routerstatic_addressfamily_vrfipv4", 2),
                       ("routerstatic_vrfunicast_vrfprefixes", 4),
                       ("routerstatic_vrfprefixes_vrfprefix", 8),
                       ("routerstatic_vrfprefixtopologies_vrfprefixtopology", 16),
                       ("routerstatic_vrfroute_vrfnexthoptable", 24),
                       ("routerstatic_vrfnexthopinterfacename_metric", 72)):
        if seen.get(pair) != want:
            fail("native: %s occurs %s times, expected %d"
                 % (pair, seen.get(pair), want))
    return counts, max_depth


def main():
    oc_nodes = load(OC_FILE, "openconfig-local-routing")
    check_oc(oc_nodes)
    check_oc_values()
    native_nodes = load(NATIVE_FILE, "Velmo-Ornat-ip-static-cfg")
    counts, depth = check_native(native_nodes)
    if errors:
        for e in errors:
            print("check-schema: FAIL: " + e, file=sys.stderr)
        print("check-schema: %d mismatch(es)" % len(errors), file=sys.stderr)
        return 1
    print("openconfig-local-routing: %d nodes in order, keys and state as expected"
          % len(oc_nodes))
    print("Velmo-Ornat-ip-static-cfg: %d containers, %d lists, %d leaves, depth %d"
          % (counts["container"], counts["list"], counts["leaf"], depth))
    print("variants: vrf-prefix lvle/lvlg, tables lvln/lvlt, leaves lvlan/lvlbf: ok")
    print("check-schema: OK")
    return 0


if __name__ == "__main__":
    sys.exit(main())
