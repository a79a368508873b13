// The generated decoder reads SOAP-encoded arrays item by item up to their
// declared size: items sent with SOAP-ENC:position out of order, or beyond a
// declared size that is too small, are skipped without a word, and a list that
// lost a "none:" PBP grants more than it should. These calls keep a copy of
// the response and check every encoded array in it: the call fails unless
// each array was sent whole and as declared.
#ifndef SCM_WHOLE_ARRAYS_H
#define SCM_WHOLE_ARRAYS_H

#include <functional>
#include <string_view>

#include "soapH.h"

// SOAP_OK when every array of the XML document xml that carries
// SOAP-ENC:arrayType holds what it declares: without positions, exactly as
// many items as its size (less its SOAP-ENC:offset); with positions, every
// item positioned, inside the array, each position once, in ascending order
// (the decoder's order). Otherwise the reason, as a text.
const char* scm_check_whole_arrays(std::string_view xml);

// Runs call (a generated call on soap) with the response kept, and fails it
// with SOAP_TYPE when its arrays are not whole.
int scm_call_with_whole_arrays(struct soap* soap, const std::function<int()>& call);

#endif
