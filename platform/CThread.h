#pragma once

#include <functional>

// Threads that run on their own. The body owns whatever it uses, so nothing
// it touches can go while it runs, and nobody has to wait for it: a thread
// held up in a library that never answers cannot hold up its starter.
// Failure to start is reported, not thrown.
class CThread {
public:
    static bool StartDetached(std::function<void()> body);

private:
    static void* Entry(void* body);
};
