"""A misspelled attribute of a PySearchResult: the marked line must be reported with the code after 'E:'."""

import kiv_core

result = kiv_core.find_formula([[1.0, 2.0]], [2.0, 4.0])
if result is not None:
    print(result.formla)  # E: attr-defined
