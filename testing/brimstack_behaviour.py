"""Misbehaviours that tests switch on per operation.

A behaviour is set with {"operation": OP, "kind": KIND, ...params}; OP is one
of the four operations or "*" for all of them. It holds until the server is
reset, until replaced, or for the next `times` calls when that param is given.

Kinds that replace the reply:
    fault        a SOAP fault: faultcode ("SOAP-ENV:Server"), faultstring,
                 detail (inserted as it is), status (HTTP status, 500)
    raw          this exact reply: status (200), body (""), content_type
                 ("text/xml; charset=utf-8"); an empty body sends none
    close        the connection is closed once the request is read
    malformed    a response that is not well-formed XML

Kind that delays the reply:
    slow         seconds (float) before the normal reply

Kind that writes the normal reply another way:
    deliver      delivery, piece: see brimstack_delivery; every other kind
                 takes these params as well

Kinds that bend the encoding of the normal reply (see brimstack_soap):
    array_anytype, array_int   SOAP-ENC:arrayType of xsd:anyType / xsd:int
    size_larger, size_smaller  declared size off by `by` (1)
    positions                  sparse array: SOAP-ENC:position, entry 1 not sent
    position_outside           an item positioned past the array's end
    positions_descending       every array's items positioned, sent last first
    multiref                   href/id items after the response element
    nil_items                  a nil item inserted second
    role_id_first              repoRoleId before repoPathAndPerm
    renamed                    response_name, response_ns, return_name
    extra_children             unknown children in the reply
    nil_return, no_return      returned value nil / missing
    shape                      any shape keys given directly as params
Shape keys may also be given as params of any of these kinds and of slow.
"""

from brimstack_delivery import Delivery
from brimstack_soap import ARRAY_OPERATIONS, OPERATIONS

SHAPE_KEYS = {"response_name", "response_ns", "return_name", "extra_children", "array_type",
              "size_delta", "positions", "position_outside", "descending", "multiref",
              "nil_item", "role_id_first", "nil_return", "no_return", "malformed"}

REPLY_KINDS = {"fault", "raw", "close"}

_ARRAY_SHAPES = {
    "array_anytype": lambda p: {"array_type": "xsd:anyType"},
    "array_int": lambda p: {"array_type": "xsd:int"},
    "size_larger": lambda p: {"size_delta": int(p.get("by", 1))},
    "size_smaller": lambda p: {"size_delta": -int(p.get("by", 1))},
    "positions": lambda p: {"positions": True},
    "position_outside": lambda p: {"position_outside": True},
    "positions_descending": lambda p: {"descending": True},
    "multiref": lambda p: {"multiref": True},
    "nil_items": lambda p: {"nil_item": True},
    "role_id_first": lambda p: {"role_id_first": True},
}

_SHAPES = {
    "malformed": lambda p: {"malformed": True},
    "renamed": lambda p: {
        "response_name": p.get("response_name", "answer"),
        "response_ns": p.get("response_ns", "urn:elsewhere"),
        "return_name": p.get("return_name", "value"),
    },
    "extra_children": lambda p: {"extra_children": True},
    "nil_return": lambda p: {"nil_return": True},
    "no_return": lambda p: {"no_return": True},
    "shape": lambda p: {},
    "slow": lambda p: {},
    "deliver": lambda p: {},
    **_ARRAY_SHAPES,
}


class Behaviour:
    def __init__(self, kind, params):
        self.kind = kind
        self.params = params
        self.remaining = params.get("times")
        self.shape = {}
        if kind in _SHAPES:
            self.shape = _SHAPES[kind](params)
            self.shape.update({k: v for k, v in params.items() if k in SHAPE_KEYS})
        self.delay = float(params.get("seconds", 0)) if kind == "slow" else 0.0
        self.delivery = Delivery(params.get("delivery", "apart"), params.get("piece", 1000))


def parse(request):
    """Return [(operation, Behaviour)] for a control request; ValueError if bad."""
    if not isinstance(request, dict):
        raise ValueError("a behaviour is a JSON object")
    params = dict(request)
    operation = params.pop("operation", None)
    kind = params.pop("kind", None)
    if operation != "*" and operation not in OPERATIONS:
        raise ValueError("unknown operation %r" % operation)
    if kind not in REPLY_KINDS and kind not in _SHAPES:
        raise ValueError("unknown behaviour kind %r" % kind)
    if kind in _ARRAY_SHAPES and operation not in ARRAY_OPERATIONS:
        raise ValueError("%s applies to the array operations only" % kind)
    times = params.get("times")
    if times is not None and (not isinstance(times, int) or times < 1):
        raise ValueError("times is a positive integer")
    operations = OPERATIONS if operation == "*" else (operation,)
    try:
        return [(op, Behaviour(kind, params)) for op in operations]
    except (TypeError, ValueError) as e:
        raise ValueError("bad parameter: %s" % e) from None
