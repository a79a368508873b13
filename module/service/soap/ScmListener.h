// Client definition of the server's ScmListener service, read by soapcpp2.
// Only the four operations the module calls are declared; the records and
// names follow the server's service description.

//gsoap ScmListenerRootNS     schema namespace: http://scm-root.example.invalid
//gsoap ScmListenerServiceNS3 schema namespace: http://scm-common.example.invalid
//gsoap QuillmarkTypeNS       schema namespace: http://quillmark.example.invalid/dwee50/soap60/type
//gsoap ScmListenerServiceNS2 schema namespace: urn:ScmListener
//gsoap QuillmarkServiceNS    schema namespace: http://quillmark.example.invalid/dwee50/soap60/service
//gsoap ScmListenerServiceNS  schema namespace: http://scm-listener.example.invalid

//gsoap ScmListenerServiceNS service name:      ScmListenerSoapBinding
//gsoap ScmListenerServiceNS service type:      ScmListener
//gsoap ScmListenerServiceNS service port:      http://localhost:8080/qv-soap/services/ScmListener
//gsoap ScmListenerServiceNS service namespace: http://scm-listener.example.invalid
//gsoap ScmListenerServiceNS service transport: http://schemas.xmlsoap.org/soap/http
//gsoap ScmListenerServiceNS service style:     rpc
//gsoap ScmListenerServiceNS service encoding:  encoded

// soapcpp2 puts a namespace into the table only when a declaration uses it,
// ordered by those declarations. These two server namespaces hold nothing the
// client decodes; an alias each keeps them in their places in the table.
typedef char *ScmListenerRootNS__string;
typedef char *ScmListenerServiceNS3__string;

// Body of the server's typed faults; further children are skipped.
struct QuillmarkTypeNS__ServiceFault {
  char *message 0;
};

// SOAP-encoded array of xsd:string; a nil item stays a null entry.
struct ScmListenerServiceNS2ArrayOf_USCORExsd_USCOREstring {
  char **__ptr;
  int __size;
};

struct ScmListenerServiceNS2__RolePathsListDO {
  struct ScmListenerServiceNS2ArrayOf_USCORExsd_USCOREstring *repoPathAndPerm 0;
  char *repoRoleId 0;
  // The entry's xsi:type as read, its prefix mapped through the namespace
  // table; the generated decoder does not check it (scm_role_paths_list.h).
  @_QName xsi__type 0;
};

// SOAP-encoded array of RolePathsListDO; a nil item stays a null entry.
struct ScmListenerServiceNS2RolePathsListDOArray {
  struct ScmListenerServiceNS2__RolePathsListDO **__ptr;
  int __size;
};

struct ScmListenerServiceNS2__DwSoapFault {
  char *message 0;
};

// Fault detail: the server's typed faults, else the content kept as text.
struct SOAP_ENV__Detail {
  struct ScmListenerServiceNS2__DwSoapFault *ScmListenerServiceNS2__DwSoapFault 0;
  struct QuillmarkTypeNS__ServiceFault *QuillmarkServiceNS__ChangeParentNotAllowedFault 0;
  struct QuillmarkTypeNS__ServiceFault *QuillmarkServiceNS__ChildProjectsFoundFault 0;
  struct QuillmarkTypeNS__ServiceFault *QuillmarkServiceNS__IllegalArgumentFault 0;
  struct QuillmarkTypeNS__ServiceFault *QuillmarkServiceNS__IllegalGroupMemberAddFault 0;
  struct QuillmarkTypeNS__ServiceFault *QuillmarkServiceNS__IllegalUserModificationFault 0;
  struct QuillmarkTypeNS__ServiceFault *QuillmarkServiceNS__InvalidOperationFault 0;
  struct QuillmarkTypeNS__ServiceFault *QuillmarkServiceNS__InvalidPasswordFault 0;
  struct QuillmarkTypeNS__ServiceFault *QuillmarkServiceNS__InvalidSessionFault 0;
  struct QuillmarkTypeNS__ServiceFault *QuillmarkServiceNS__LastSuperUserFault 0;
  struct QuillmarkTypeNS__ServiceFault *QuillmarkServiceNS__LoginFault 0;
  struct QuillmarkTypeNS__ServiceFault *QuillmarkServiceNS__NoSuchObjectFault 0;
  struct QuillmarkTypeNS__ServiceFault *QuillmarkServiceNS__ObjectAlreadyExistsFault 0;
  struct QuillmarkTypeNS__ServiceFault *QuillmarkServiceNS__ParentRoleUsedInChildProjectsFault 0;
  struct QuillmarkTypeNS__ServiceFault *QuillmarkServiceNS__PermissionDeniedFault 0;
  struct QuillmarkTypeNS__ServiceFault *QuillmarkServiceNS__ProjectAlreadyLockedFault 0;
  struct QuillmarkTypeNS__ServiceFault *QuillmarkServiceNS__RemoveOnlyProjectAdminFault 0;
  struct QuillmarkTypeNS__ServiceFault *QuillmarkServiceNS__SearchQuerySyntaxFault 0;
  struct QuillmarkTypeNS__ServiceFault *QuillmarkServiceNS__SystemFault 0;
  struct QuillmarkTypeNS__ServiceFault *QuillmarkServiceNS__UserLimitExceededFault 0;
  struct QuillmarkTypeNS__ServiceFault *QuillmarkServiceNS__VersionMismatchFault 0;
  int __type;
  void *fault;
  char *__any;
};

// The operations. Every parameter is an unqualified element named after the
// parameter (soapcpp2 drops the leading underscore); a null string is left
// out of the request.

//gsoap ScmListenerServiceNS service method-action: isValidUser ""
int ScmListenerServiceNS__isValidUser(char *_requestKey, char *_username, char *_password,
                                      char *_systemIdString, char *_repositoryDir,
                                      int *_isValidUserReturn);

//gsoap ScmListenerServiceNS service method-action: getBrandingExternalSystemId ""
int ScmListenerServiceNS__getBrandingExternalSystemId(char *_requestKey,
                                                      char **_getBrandingExternalSystemIdReturn);

struct ScmListenerServiceNS__getRolePathsListResponse {
  struct ScmListenerServiceNS2RolePathsListDOArray *_getRolePathsListReturn 0;
};

//gsoap ScmListenerServiceNS service method-action: getRolePathsList ""
int ScmListenerServiceNS__getRolePathsList(
    char *_requestKey, char *_username, char *_systemId, char *_repositoryName,
    struct ScmListenerServiceNS__getRolePathsListResponse *response);

struct ScmListenerServiceNS__getRolePathsResponse {
  struct ScmListenerServiceNS2ArrayOf_USCORExsd_USCOREstring *_getRolePathsReturn 0;
};

//gsoap ScmListenerServiceNS service method-action: getRolePaths ""
int ScmListenerServiceNS__getRolePaths(char *_requestKey, char *_username, char *_systemId,
                                       char *_repositoryName,
                                       struct ScmListenerServiceNS__getRolePathsResponse *response);
