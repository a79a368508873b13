from typing import Final, Mapping, Optional, Union

Text = Union[str, bytes]
RolePbps = Union[list[Text], Mapping[Optional[Text], Optional[list[Text]]], None]

NONE: Final[int]
VIEW: Final[int]
COMMIT: Final[int]

class ZebAuthorizer:
    def __init__(self, pbps: RolePbps = None) -> None: ...
    def determine_global_access(self) -> int: ...
    def has_non_recursive_access(self, path: Text, required_access: int, /) -> int: ...
