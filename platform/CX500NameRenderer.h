#pragma once

#include <cstddef>
#include <string>

#include <openssl/x509.h>

// Renders a distinguished name the way CryptoAPI's X.500 string form does:
// RDNs in encoded order joined by ", ", the values of a multi-valued RDN
// joined by " + ", each value as KEY=value with CryptoAPI's keys (the dotted
// OID where there is none), quoted when it holds a special character or
// starts or ends with a blank.
class CX500NameRenderer {
public:
    static std::string Render(const X509_NAME* name);

    // The rendering written into `buffer` of `capacity` bytes, terminator
    // included, cut between UTF-8 characters. Returns the bytes written,
    // terminator included (0 when nothing fits).
    static std::size_t CertNameToStr(const X509_NAME* name, char* buffer, std::size_t capacity);
    // The rendering as much of it as a buffer of `ansiCapacity` bytes of
    // the Simplified Chinese ANSI code page holds, terminator included
    // (see Utf8::AnsiLength); the text stays UTF-8 and is cut between characters.
    static std::string CertNameToAnsiStr(const X509_NAME* name, std::size_t ansiCapacity);

    // CryptoAPI's key for an attribute OID in dotted form; empty when none.
    static std::string KeyForOid(const std::string& dottedOid);
    // A value as CryptoAPI writes it, quoted where it needs to be.
    static std::string QuoteValue(const std::string& value);

private:
    static std::string RenderEntry(const X509_NAME_ENTRY* entry);
    static std::string ValueToUtf8(const ASN1_STRING* data);
};
