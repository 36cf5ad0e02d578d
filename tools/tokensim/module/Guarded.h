#pragma once

#include "CCall.h"
#include "CTokenSim.h"

#include <new>

// Entry points keep default visibility; everything else in the module is hidden.
#define TOKENSIM_EXPORT extern "C" __attribute__((visibility("default")))

inline CTokenSim& Sim()
{
    return CTokenSim::Instance();
}

// Runs one entry point's body with its call record; nothing thrown crosses
// into the C caller.
template <typename Body>
CK_RV Guarded(const char* function, Body body) noexcept
{
    try {
        CCall call(Sim().Trace(), function);
        return body(call);
    } catch (const std::bad_alloc&) {
        return CKR_HOST_MEMORY;
    } catch (...) {
        return CKR_GENERAL_ERROR;
    }
}

// An entry point that only forwards on a session, tracing the session.
template <typename Fn, typename... Args>
CK_RV ForwardOnSession(const char* function, CK_SESSION_HANDLE session, Fn CK_FUNCTION_LIST::*fn, Args... args)
{
    return Guarded(function, [&](CCall& call) {
        call.Field("session", session);
        return Sim().OnSession(call, session, fn, args...);
    });
}

// The same, with a key or object handle and a mechanism traced as well.
template <typename Fn, typename... Args>
CK_RV ForwardWithKey(const char* function, CK_SESSION_HANDLE session, CK_MECHANISM_PTR mechanism,
                     CK_OBJECT_HANDLE key, Fn CK_FUNCTION_LIST::*fn, Args... args)
{
    return Guarded(function, [&](CCall& call) {
        call.Field("session", session).Mechanism(mechanism).Field("key", key);
        return Sim().OnSession(call, session, fn, mechanism, key, args...);
    });
}
