#include "platform/CX500NameRenderer.h"

#include "platform/CHexText.h"
#include "platform/Utf8.h"

#include <cstring>
#include <iterator>

#include <openssl/asn1.h>
#include <openssl/crypto.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

namespace {

struct OidKey {
    const char* oid;
    const char* key;
};

// CryptoAPI's X.500 keys, one per attribute type.
constexpr OidKey kKeys[] = {
    {"2.5.4.3", "CN"},
    {"2.5.4.4", "SN"},
    {"2.5.4.5", "SERIALNUMBER"},
    {"2.5.4.6", "C"},
    {"2.5.4.7", "L"},
    {"2.5.4.8", "S"},
    {"2.5.4.9", "STREET"},
    {"2.5.4.10", "O"},
    {"2.5.4.11", "OU"},
    {"2.5.4.12", "T"},
    {"2.5.4.13", "Description"},
    {"2.5.4.17", "PostalCode"},
    {"2.5.4.18", "POBox"},
    {"2.5.4.20", "Phone"},
    {"2.5.4.24", "X21Address"},
    {"2.5.4.42", "G"},
    {"2.5.4.43", "I"},
    {"2.5.4.46", "dnQualifier"},
    {"1.2.840.113549.1.9.1", "E"},
    {"1.2.840.113549.1.9.2", "unstructuredName"},
    {"1.2.840.113549.1.9.8", "unstructuredAddress"},
    {"0.9.2342.19200300.100.1.25", "DC"},
};

constexpr char kSpecials[] = ",+=\"\n<>#;";

std::string DottedOid(const ASN1_OBJECT* object)
{
    char buf[128];
    int n = OBJ_obj2txt(buf, sizeof buf, object, 1);
    if (n <= 0)
        return "?";
    if (static_cast<std::size_t>(n) >= sizeof buf)
        n = static_cast<int>(sizeof buf - 1);
    return std::string(buf, static_cast<std::size_t>(n));
}

}  // namespace

std::string CX500NameRenderer::KeyForOid(const std::string& dottedOid)
{
    for (const OidKey& k : kKeys) {
        if (dottedOid == k.oid)
            return k.key;
    }
    return {};
}

std::string CX500NameRenderer::QuoteValue(const std::string& value)
{
    bool quote = !value.empty() && (value.front() == ' ' || value.back() == ' ');
    quote = quote || value.find_first_of(kSpecials, 0, sizeof kSpecials - 1) != std::string::npos;
    if (!quote)
        return value;
    std::string out = "\"";
    for (char c : value) {
        out += c;
        if (c == '"')
            out += '"';
    }
    out += '"';
    return out;
}

std::string CX500NameRenderer::ValueToUtf8(const ASN1_STRING* data)
{
    if (data == nullptr)
        return {};
    unsigned char* utf8 = nullptr;
    int n = ASN1_STRING_to_UTF8(&utf8, data);
    if (n >= 0) {
        std::string out(reinterpret_cast<const char*>(utf8), static_cast<std::size_t>(n));
        OPENSSL_free(utf8);
        return QuoteValue(out);
    }
    // Not a string type, or not decodable: the raw bytes in hex, as CryptoAPI
    // shows encoded values.
    return "#" + CHexText::Upper(ASN1_STRING_get0_data(data), static_cast<std::size_t>(ASN1_STRING_length(data)));
}

std::string CX500NameRenderer::RenderEntry(const X509_NAME_ENTRY* entry)
{
    std::string oid = DottedOid(X509_NAME_ENTRY_get_object(entry));
    std::string key = KeyForOid(oid);
    return (key.empty() ? oid : key) + "=" + ValueToUtf8(X509_NAME_ENTRY_get_data(entry));
}

std::string CX500NameRenderer::Render(const X509_NAME* name)
{
    std::string out;
    if (name == nullptr)
        return out;
    int count = X509_NAME_entry_count(name);
    int previousSet = -1;
    for (int i = 0; i < count; ++i) {
        const X509_NAME_ENTRY* entry = X509_NAME_get_entry(name, i);
        int set = X509_NAME_ENTRY_set(entry);
        if (i > 0)
            out += set == previousSet ? " + " : ", ";
        out += RenderEntry(entry);
        previousSet = set;
    }
    return out;
}

namespace {

// A value with a NUL in it ends the string there, as it would for any C string reader.
std::string RenderAsCString(const X509_NAME* name)
{
    std::string text = CX500NameRenderer::Render(name);
    text.resize(std::strlen(text.c_str()));
    return text;
}

}  // namespace

std::string CX500NameRenderer::CertNameToAnsiStr(const X509_NAME* name, std::size_t ansiCapacity)
{
    if (ansiCapacity == 0)
        return {};
    std::string text = RenderAsCString(name);
    text.resize(Utf8::AnsiPrefixLength(text, ansiCapacity - 1));
    return text;
}

std::size_t CX500NameRenderer::CertNameToStr(const X509_NAME* name, char* buffer, std::size_t capacity)
{
    if (buffer == nullptr || capacity == 0)
        return 0;
    std::string text = RenderAsCString(name);
    std::size_t length = Utf8::SafePrefixLength(text, capacity - 1);
    std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
    return length + 1;
}
