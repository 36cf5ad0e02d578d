#pragma once

#include "platform/WinTypes.h"

// The computer's clock, read as calendar fields. Code that depends on the
// time takes a CClock so tests can set the time.
class CClock {
public:
    virtual ~CClock() = default;

    // Coordinated universal time now.
    virtual SYSTEMTIME GetSystemTime() const;
    // The local wall-clock time now.
    virtual SYSTEMTIME GetLocalTime() const;

    // The real clock; stateless, shared by everyone who needs no other.
    static const CClock& System();
};
