// CShellUtil: stateless helpers of the handler. The name and path operations
// are text only and build without any Windows header.
#pragma once

#include <string>
#include <vector>

class CShellUtil {
public:
    // True on Windows Vista and later (major version 6 and up).
    bool IsVistaOrLater() const;
};
