"""A minimal SOAP caller and decoder for checking the server's answers."""

import http.client
import ssl
import xml.etree.ElementTree as ET
from xml.sax.saxutils import escape

ENV = "{http://schemas.xmlsoap.org/soap/envelope/}"
ENC = "{http://schemas.xmlsoap.org/soap/encoding/}"
XSI = "{http://www.w3.org/2001/XMLSchema-instance}"


def request_body(operation, params):
    children = "".join("<%s>%s</%s>" % (name, escape(value), name)
                       for name, value in params if value is not None)
    return ('<?xml version="1.0" encoding="UTF-8"?>'
            '<SOAP-ENV:Envelope xmlns:SOAP-ENV="http://schemas.xmlsoap.org/soap/envelope/" '
            'xmlns:ns="http://listener.example.test"><SOAP-ENV:Body>'
            '<ns:%s>%s</ns:%s></SOAP-ENV:Body></SOAP-ENV:Envelope>'
            % (operation, children, operation)).encode("utf-8")


def post(server, body, path="/qv-soap/services/ScmListener", timeout=10):
    """POST and return (status, body); raises on a dropped connection."""
    if server.tls:
        connection = http.client.HTTPSConnection(
            "127.0.0.1", server.port, timeout=timeout, context=ssl._create_unverified_context())
    else:
        connection = http.client.HTTPConnection("127.0.0.1", server.port, timeout=timeout)
    try:
        connection.request("POST", path, body, {"Content-Type": "text/xml; charset=utf-8",
                                                "SOAPAction": '"alice:ScmListener"'})
        response = connection.getresponse()
        return response.status, response.read()
    finally:
        connection.close()


def call(server, operation, params):
    return post(server, request_body(operation, params))


def _decode(element, refs):
    href = element.get("href")
    if href is not None:
        element = refs[href.lstrip("#")]
    if element.get(XSI + "nil") == "true":
        return None
    xsi_type = element.get(XSI + "type", "")
    if xsi_type == "SOAP-ENC:Array":
        return [_decode(item, refs) for item in element]
    if xsi_type.endswith("RolePathsListDO"):
        return {child.tag: _decode(child, refs) for child in element}
    if xsi_type == "xsd:int":
        return int(element.text)
    return element.text or ""


def parse_response(body):
    """The returned value of a well-formed response, hrefs resolved; a fault
    gives ("fault", faultcode, faultstring)."""
    root = ET.fromstring(body)
    soap_body = root.find(ENV + "Body")
    first = soap_body[0]
    if first.tag == ENV + "Fault":
        return ("fault", first.findtext("faultcode"), first.findtext("faultstring"))
    refs = {e.get("id"): e for e in soap_body[1:]}
    return _decode(first[0], refs)
