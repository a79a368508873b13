#include "scm_whole_arrays.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "scm_received_body.h"

// The runtime's DOM reader; soapcpp2 declares it only for services that
// import the DOM, which this client does not.
struct soap_dom_element* soap_in_xsd__anyType(struct soap*, const char*, struct soap_dom_element*,
                                              const char*);

namespace {

constexpr char kEncoding[] = "http://schemas.xmlsoap.org/soap/encoding/";

// The reader's input: what is left of the document.
size_t read_document(struct soap* reader, char* buffer, size_t length) {
  auto* rest = static_cast<std::string_view*>(reader->user);
  const size_t n = std::min(length, rest->size());
  std::memcpy(buffer, rest->data(), n);
  rest->remove_prefix(n);
  return n;
}

// "[n]" as n; -1 for anything else (several dimensions, no number).
long bracketed_number(const char* text) {
  const char* open = text != nullptr ? std::strrchr(text, '[') : nullptr;
  if (open == nullptr) return -1;
  char* end = nullptr;
  const long n = std::strtol(open + 1, &end, 10);
  if (end == open + 1 || *end != ']' || end[1] != '\0' || n < 0) return -1;
  return n;
}

const char* encoding_attribute(soap_dom_element* element, const char* name) {
  for (soap_dom_attribute* a = soap_att_first(element); a != nullptr; a = soap_att_next(a)) {
    if (soap_att_match(a, kEncoding, name)) return soap_att_get_text(a);
  }
  return nullptr;
}

// Null when the array element holds what it declares, else the reason.
const char* check_array(soap_dom_element* array, const char* array_type) {
  const long size = bracketed_number(array_type);
  if (size < 0) return "SOAP-ENC:arrayType declares no single size";
  const char* offset_text = encoding_attribute(array, "offset");
  const long offset = offset_text != nullptr ? bracketed_number(offset_text) : 0;
  if (offset < 0 || offset > size) return "SOAP-ENC:offset lies outside the array";
  long items = 0;
  long positioned = 0;
  long last = -1;
  for (soap_dom_element* item = soap_elt_first(array); item != nullptr;
       item = soap_elt_next(item)) {
    ++items;
    const char* position = encoding_attribute(item, "position");
    if (position == nullptr) continue;
    ++positioned;
    const long at = bracketed_number(position);
    if (at < offset || at >= size) return "an item's SOAP-ENC:position lies outside the array";
    if (at <= last) return "items positioned out of order or twice";
    last = at;
  }
  if (positioned > 0 && positioned != items) return "some items positioned, others not";
  if (positioned == 0 && items != size - offset) {
    return "the items sent disagree with the size SOAP-ENC:arrayType declares";
  }
  return nullptr;
}

const char* check_tree(soap_dom_element* element) {
  if (const char* array_type = encoding_attribute(element, "arrayType")) {
    if (const char* reason = check_array(element, array_type)) return reason;
  }
  for (soap_dom_element* child = soap_elt_first(element); child != nullptr;
       child = soap_elt_next(child)) {
    if (const char* reason = check_tree(child)) return reason;
  }
  return nullptr;
}

}  // namespace

const char* scm_check_whole_arrays(std::string_view xml) {
  // Read in place, as a document alone: no HTTP head is looked for.
  struct soap* reader = soap_new1(SOAP_C_UTFSTRING | SOAP_ENC_PLAIN);
  std::string_view rest = xml;
  reader->user = &rest;
  reader->frecv = read_document;
  soap_dom_element document(reader);
  const char* reason = nullptr;
  if (soap_begin_recv(reader) != SOAP_OK ||
      soap_in_xsd__anyType(reader, nullptr, &document, nullptr) == nullptr ||
      soap_end_recv(reader) != SOAP_OK) {
    reason = "the response cannot be read again";
  } else {
    reason = check_tree(&document);
  }
  soap_destroy(reader);
  soap_end(reader);
  soap_free(reader);
  return reason;
}

int scm_call_with_whole_arrays(struct soap* soap, const std::function<int()>& call) {
  const scm_received_body body(soap);
  const int rc = call();
  if (rc != SOAP_OK) return rc;
  if (const char* reason = scm_check_whole_arrays(body.text())) {
    return soap_set_receiver_error(soap, "Array not read whole", reason, SOAP_TYPE);
  }
  return SOAP_OK;
}
