#pragma once

#include <stdexcept>
#include <string>

namespace testsupport {

// Test data that OpenSSL cannot make is a broken test, not a finding.
inline void CheckOpenSsl(bool ok, const char* what)
{
    if (!ok)
        throw std::runtime_error(std::string("OpenSSL: ") + what);
}

}  // namespace testsupport
