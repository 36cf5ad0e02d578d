#pragma once

#include <string>

// A dynamic library loaded with dlopen, released with the object.
// A bare file name is looked up in the executable's own folder first,
// then by the system's search order, as the module loader on Windows does.
class CLibrary {
public:
    CLibrary() = default;
    ~CLibrary();
    CLibrary(const CLibrary&) = delete;
    CLibrary& operator=(const CLibrary&) = delete;

    // How long a loaded library stays in the process.
    enum class ELifetime {
        Unloadable,  // until Free(), when nobody else holds it
        Process,     // to the end of the process, whatever Free() does: a
                     // module's own threads may still run after its last use
    };

    // 0 on success; otherwise a non-zero system error code, with the
    // loader's message kept in LastError().
    int Load(const char* fileName, ELifetime lifetime = ELifetime::Unloadable);
    void Free();
    bool IsLoaded() const { return m_hHandle != nullptr; }

    // The address of an exported symbol, or null when the library has none.
    void* Symbol(const char* name) const;

    const std::string& LastError() const { return m_strLastError; }

    // The folder holding the running executable, without a trailing slash.
    static std::string ExecutableFolder();
    // Where Load() looks first for `fileName`: the path it will open.
    static std::string ResolvePath(const char* fileName);

private:
    void* m_hHandle = nullptr;
    std::string m_strLastError;
};
