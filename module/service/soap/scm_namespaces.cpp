// The namespace table of the ScmListener client; soap_init picks it up as the
// runtime's default table.
#include "soapH.h"

#include "ScmListenerSoapBinding.nsmap"
