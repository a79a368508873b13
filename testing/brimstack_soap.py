"""SOAP 1.1 (RPC style, SOAP encoding) messages of the ScmListener service.

`parse_request` reads a call; `render_response` and `render_fault` write the
answers. A response's form can be bent through a `shape` dict, so that tests
can feed a client every legal variant of the encoding (and some illegal ones):

    response_name, response_ns  name and namespace of the response element
    return_name                 name of the returned-value element
    extra_children              unknown children in the response element and
                                in every role entry
    array_type                  item type written in SOAP-ENC:arrayType of the
                                returned array ("" leaves the attribute out)
    size_delta                  added to the declared size of that array
    positions                   a sparse array: one more entry declared, items
                                sent with SOAP-ENC:position, entry 1 left out
    position_outside            the last item positioned one past the array's end
    descending                  every array's items positioned, sent last first
    multiref                    role entries (getRolePathsList) or the returned
                                array (getRolePaths) sent as multi-reference
                                elements after the response element
    nil_item                    a nil item inserted as the array's second item
    role_id_first               repoRoleId written before repoPathAndPerm
    nil_return                  the returned value is nil
    no_return                   the response element has no children
    malformed                   the document is not well-formed XML (an
                                attribute repeated on the returned value)
"""

import xml.etree.ElementTree as ET
from xml.sax.saxutils import escape, quoteattr

SOAP_ENV = "http://schemas.xmlsoap.org/soap/envelope/"
SOAP_ENC = "http://schemas.xmlsoap.org/soap/encoding/"
XSI = "http://www.w3.org/2001/XMLSchema-instance"
XSD = "http://www.w3.org/2001/XMLSchema"
TYPES_NS = "urn:ScmListener"
# Used only when a request's operation element carries no namespace.
DEFAULT_OPERATION_NS = "http://scmlistener.example.invalid"

OPERATIONS = ("isValidUser", "getBrandingExternalSystemId", "getRolePathsList", "getRolePaths")
ARRAY_OPERATIONS = ("getRolePathsList", "getRolePaths")


class BadRequest(Exception):
    """A request body that is no SOAP call."""


def _local(tag):
    return tag.rsplit("}", 1)[-1]


def _namespace(tag):
    return tag[1:].split("}", 1)[0] if tag.startswith("{") else ""


def parse_request(body):
    """Return (operation, operation namespace, [(name, text), ...]).

    Parameters keep their order; an empty element gives "" and an element
    with xsi:nil="true" gives None.
    """
    try:
        root = ET.fromstring(body)
    except ET.ParseError as e:
        raise BadRequest("request is not well-formed XML: %s" % e) from None
    if _local(root.tag) != "Envelope":
        raise BadRequest("request has no SOAP envelope")
    bodies = [child for child in root if _local(child.tag) == "Body"]
    if len(bodies) != 1 or len(bodies[0]) == 0:
        raise BadRequest("request has no SOAP body with an operation")
    call = bodies[0][0]
    params = []
    for child in call:
        nil = child.get("{%s}nil" % XSI) in ("true", "1")
        params.append((_local(child.tag), None if nil else (child.text or "")))
    return _local(call.tag), _namespace(call.tag), params


def _envelope(inner, extra_ns=""):
    return (
        '<?xml version="1.0" encoding="UTF-8"?>\n'
        '<SOAP-ENV:Envelope xmlns:SOAP-ENV="%s" xmlns:SOAP-ENC="%s" '
        'xmlns:xsi="%s" xmlns:xsd="%s"%s>\n'
        " <SOAP-ENV:Body>\n%s </SOAP-ENV:Body>\n"
        "</SOAP-ENV:Envelope>\n" % (SOAP_ENV, SOAP_ENC, XSI, XSD, extra_ns, inner)
    ).encode("utf-8")


def render_fault(faultcode="SOAP-ENV:Server", faultstring="", detail=None):
    """A SOAP 1.1 fault; `detail` is inserted as it is (XML or text)."""
    parts = [
        "  <SOAP-ENV:Fault>\n",
        "   <faultcode>%s</faultcode>\n" % escape(faultcode),
        "   <faultstring>%s</faultstring>\n" % escape(faultstring),
    ]
    if detail is not None:
        parts.append("   <detail>%s</detail>\n" % detail)
    parts.append("  </SOAP-ENV:Fault>\n")
    return _envelope("".join(parts), ' xmlns:ns2="%s"' % TYPES_NS)


class _Writer:
    """Builds the body's response element and its multi-reference elements."""

    def __init__(self, shape):
        self.shape = shape
        self.multirefs = []

    def string(self, name, value, indent):
        if value is None:
            return '%s<%s xsi:type="xsd:string" xsi:nil="true"/>\n' % (indent, name)
        return '%s<%s xsi:type="xsd:string">%s</%s>\n' % (indent, name, escape(value), name)

    def array(self, name, items, item_type, write_item, indent, outer, attrs=""):
        """An encoded array; `outer` applies the shape's array options."""
        items = list(items)
        if outer and self.shape.get("nil_item"):
            items.insert(min(1, len(items)), None)
        declared_type = item_type
        size = len(items)
        if outer:
            declared_type = self.shape.get("array_type", item_type)
            size += self.shape.get("size_delta", 0)
        positions = list(range(len(items)))
        positioned = outer and (self.shape.get("positions") or self.shape.get("position_outside"))
        if outer and self.shape.get("positions") and items:
            positions = [0] + [i + 1 for i in positions[1:]]
            size += 1
        if outer and self.shape.get("position_outside") and items:
            positions[-1] = size
        type_attr = ""
        if declared_type:
            type_attr = ' SOAP-ENC:arrayType="%s[%d]"' % (declared_type, size)
        pairs = list(zip(positions, items))
        if self.shape.get("descending"):
            positioned = True
            pairs.reverse()
        body = []
        for position, item in pairs:
            pos = ' SOAP-ENC:position="[%d]"' % position if positioned else ""
            body.append(write_item(item, indent + " ", pos))
        return '%s<%s xsi:type="SOAP-ENC:Array"%s%s>\n%s%s</%s>\n' % (
            indent, name, type_attr, attrs, "".join(body), indent, name)

    def string_item(self, value, indent, pos):
        if value is None:
            return '%s<item xsi:nil="true"%s/>\n' % (indent, pos)
        return '%s<item xsi:type="xsd:string"%s>%s</item>\n' % (indent, pos, escape(value))

    def role_fields(self, role, indent):
        fields = []
        if role.get("pbps") is not None:
            fields.append(self.array("repoPathAndPerm", role["pbps"], "xsd:string",
                                     self.string_item, indent, outer=False))
        if role.get("id") is not None:
            fields.append(self.string("repoRoleId", role["id"], indent))
        if self.shape.get("role_id_first"):
            fields.reverse()
        if self.shape.get("extra_children"):
            fields.append("%s<roleComment>not part of a role entry</roleComment>\n" % indent)
        return "".join(fields)

    def role_item(self, role, indent, pos):
        if role is None:
            return '%s<item xsi:nil="true"%s/>\n' % (indent, pos)
        if self.shape.get("multiref"):
            ref = "id%d" % len(self.multirefs)
            self.multirefs.append(
                '  <multiRef id="%s" SOAP-ENC:root="0" xsi:type="ns2:RolePathsListDO">\n%s'
                "  </multiRef>\n" % (ref, self.role_fields(role, "   ")))
            return '%s<item href="#%s"%s/>\n' % (indent, ref, pos)
        return '%s<item xsi:type="ns2:RolePathsListDO"%s>\n%s%s</item>\n' % (
            indent, pos, self.role_fields(role, indent + " "), indent)

    def returned(self, operation, value, name):
        indent = "   "
        if operation == "isValidUser":
            return '%s<%s xsi:type="xsd:int">%d</%s>\n' % (indent, name, value, name)
        if operation == "getBrandingExternalSystemId":
            return self.string(name, value, indent)
        if value is None:
            return '%s<%s xsi:type="SOAP-ENC:Array" xsi:nil="true"/>\n' % (indent, name)
        if operation == "getRolePathsList":
            return self.array(name, value, "ns2:RolePathsListDO", self.role_item, indent,
                              outer=True)
        if self.shape.get("multiref"):
            ref = "id%d" % len(self.multirefs)
            self.multirefs.append(self.array(
                "multiRef", value, "xsd:string", self.string_item, "  ", outer=True,
                attrs=' id="%s" SOAP-ENC:root="0"' % ref))
            return '%s<%s href="#%s"/>\n' % (indent, name, ref)
        return self.array(name, value, "xsd:string", self.string_item, indent, outer=True)


def render_response(operation, operation_ns, value, shape=None):
    """The response to `operation` returning `value`:

    isValidUser: int; getBrandingExternalSystemId: str or None;
    getRolePathsList: list of None or {"id": str|None, "pbps": [str|None]|None},
    or None; getRolePaths: list of str|None, or None.
    """
    shape = shape or {}
    writer = _Writer(shape)
    name = shape.get("response_name", operation + "Response")
    ns = shape.get("response_ns", operation_ns or DEFAULT_OPERATION_NS)
    return_name = shape.get("return_name", operation + "Return")
    children = []
    if shape.get("nil_return"):
        children.append('   <%s xsi:nil="true"/>\n' % return_name)
    elif not shape.get("no_return"):
        children.append(writer.returned(operation, value, return_name))
    if shape.get("extra_children"):
        children.append('   <serverNote xsi:type="xsd:string">ignored</serverNote>\n')
        children.append("   <serverData><a>1</a><b/></serverData>\n")
    inner = '  <ns1:%s SOAP-ENV:encodingStyle="%s">\n%s  </ns1:%s>\n%s' % (
        name, SOAP_ENC, "".join(children), name, "".join(writer.multirefs))
    extra_ns = " xmlns:ns1=%s xmlns:ns2=%s" % (quoteattr(ns), quoteattr(TYPES_NS))
    if shape.get("malformed"):
        inner = inner.replace("<%s " % return_name, '<%s note="1" note="2" ' % return_name, 1)
    return _envelope(inner, extra_ns)
