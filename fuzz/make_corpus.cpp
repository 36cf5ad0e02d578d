// Writes the fuzzer's starting corpus: real certificates read from PEM files,
// damaged copies of some, and made-up certificates and names that reach the
// corners of rendering (long subjects, cuts inside characters, odd string
// types, quoting, odd times).
// Usage: make_corpus OUTPUT_DIR PEM_FILE...
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <openssl/asn1.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

namespace {

using Bytes = std::vector<unsigned char>;

// Damaged copies are made of this many real certificates only: the rest
// would add bulk, not new shapes.
constexpr std::size_t kDamagedSources = 12;
// Where the inventory cuts a rendered subject.
constexpr std::size_t kCut = 254;

template <auto Free>
struct Deleter {
    template <typename T>
    void operator()(T* p) const { Free(p); }
};
using X509Ptr = std::unique_ptr<X509, Deleter<X509_free>>;
using NamePtr = std::unique_ptr<X509_NAME, Deleter<X509_NAME_free>>;
using KeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY_free>>;
using StringPtr = std::unique_ptr<ASN1_STRING, Deleter<ASN1_STRING_free>>;
using ObjectPtr = std::unique_ptr<ASN1_OBJECT, Deleter<ASN1_OBJECT_free>>;

struct FileClose {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

class CorpusWriter {
public:
    explicit CorpusWriter(std::filesystem::path dir) : m_dir(std::move(dir)) {}

    void Write(const std::string& name, const Bytes& bytes)
    {
        std::ofstream out(m_dir / name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        if (!out)
            throw std::runtime_error("cannot write input " + name);
        ++m_count;
    }

    std::size_t Count() const { return m_count; }

private:
    std::filesystem::path m_dir;
    std::size_t m_count = 0;
};

template <typename T, int (*Encode)(const T*, unsigned char**)>
Bytes Der(const T* object)
{
    int n = Encode(object, nullptr);
    if (n <= 0)
        return {};
    Bytes out(static_cast<std::size_t>(n));
    unsigned char* p = out.data();
    Encode(object, &p);
    return out;
}

Bytes CertDer(const X509* cert)
{
    return Der<X509, i2d_X509>(cert);
}

Bytes NameDer(const X509_NAME* name)
{
    return Der<X509_NAME, i2d_X509_NAME>(name);
}

std::vector<Bytes> ReadPemCertificates(const char* path)
{
    std::vector<Bytes> certs;
    std::unique_ptr<std::FILE, FileClose> file(std::fopen(path, "r"));
    if (!file)
        return certs;
    while (X509Ptr cert{PEM_read_X509(file.get(), nullptr, nullptr, nullptr)})
        certs.push_back(CertDer(cert.get()));
    return certs;
}

// Truncations, flipped bytes and a lying outer length.
void WriteDamaged(CorpusWriter& corpus, const std::string& stem, const Bytes& der, std::minstd_rand& rng)
{
    for (std::size_t cut : {std::size_t{1}, der.size() / 2, der.size() - 1})
        corpus.Write(stem + "-cut" + std::to_string(cut), Bytes(der.begin(), der.begin() + static_cast<std::ptrdiff_t>(cut)));
    for (int i = 0; i < 4; ++i) {
        Bytes flipped = der;
        flipped[rng() % flipped.size()] ^= static_cast<unsigned char>(1 + rng() % 255);
        corpus.Write(stem + "-flip" + std::to_string(i), flipped);
    }
    Bytes longer = der;
    if (longer.size() > 4 && longer[1] == 0x82)
        longer[2] = 0xFF;
    corpus.Write(stem + "-length", longer);
}

std::size_t WriteRealCertificates(CorpusWriter& corpus, int count, char** paths)
{
    std::minstd_rand rng(20240229);
    std::size_t real = 0;
    for (int i = 0; i < count; ++i) {
        for (const Bytes& der : ReadPemCertificates(paths[i])) {
            std::string stem = "ca-" + std::to_string(real);
            corpus.Write(stem, der);
            if (real < kDamagedSources && der.size() > 8)
                WriteDamaged(corpus, stem, der, rng);
            ++real;
        }
    }
    return real;
}

// One attribute with its value stored as given, whatever the type.
void AddRaw(X509_NAME* name, const char* oid, int type, const std::string& value, int set = 0)
{
    ObjectPtr object(OBJ_txt2obj(oid, 1));
    if (!object)
        throw std::runtime_error(std::string("bad OID ") + oid);
    auto bytes = reinterpret_cast<const unsigned char*>(value.data());
    if (X509_NAME_add_entry_by_OBJ(name, object.get(), type, bytes, static_cast<int>(value.size()), -1, set) != 1)
        throw std::runtime_error(std::string("cannot add ") + oid + " of type " + std::to_string(type));
}

void AddUtf8(X509_NAME* name, const char* oid, const std::string& value, int set = 0)
{
    AddRaw(name, oid, V_ASN1_UTF8STRING, value, set);
}

StringPtr Time(int type, const char* text)
{
    StringPtr time(ASN1_STRING_type_new(type));
    ASN1_STRING_set(time.get(), text, static_cast<int>(std::strlen(text)));
    return time;
}

struct Validity {
    int type = V_ASN1_UTCTIME;
    const char* notBefore = "240101000000Z";
    const char* notAfter = "340101000000Z";
};

class CertMaker {
public:
    CertMaker() : m_key(EVP_EC_gen("P-256"))
    {
        if (!m_key)
            throw std::runtime_error("cannot make a key");
    }

    Bytes Make(const X509_NAME* subject, const Validity& validity = {}) const
    {
        X509Ptr cert(X509_new());
        X509_set_version(cert.get(), X509_VERSION_3);
        ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 1);
        X509_set_subject_name(cert.get(), subject);
        X509_set_issuer_name(cert.get(), subject);
        X509_set1_notBefore(cert.get(), Time(validity.type, validity.notBefore).get());
        X509_set1_notAfter(cert.get(), Time(validity.type, validity.notAfter).get());
        X509_set_pubkey(cert.get(), m_key.get());
        if (X509_sign(cert.get(), m_key.get(), EVP_sha256()) <= 0)
            throw std::runtime_error("cannot sign");
        return CertDer(cert.get());
    }

private:
    KeyPtr m_key;
};

// Each name goes in twice: inside a certificate and bare.
void WriteName(CorpusWriter& corpus, const CertMaker& maker, const std::string& stem, const X509_NAME* name)
{
    corpus.Write("cert-" + stem, maker.Make(name));
    corpus.Write("name-" + stem, NameDer(name));
}

NamePtr NewName()
{
    return NamePtr(X509_NAME_new());
}

// A single CN whose rendering "CN=..." puts a `width`-byte character
// `offset` bytes before the cut.
void WriteCutNames(CorpusWriter& corpus, const CertMaker& maker)
{
    const std::string characters[] = {"\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80"};
    for (const std::string& c : characters) {
        for (std::size_t offset = 0; offset <= c.size(); ++offset) {
            NamePtr name = NewName();
            std::string value(kCut - 3 - offset, 'a');
            AddUtf8(name.get(), "2.5.4.3", value + c + c + "z");
            WriteName(corpus, maker, "cut" + std::to_string(c.size()) + "-" + std::to_string(offset), name.get());
        }
    }
}

void WriteHugeSubject(CorpusWriter& corpus, const CertMaker& maker)
{
    NamePtr name = NewName();
    for (int i = 0; i < 40; ++i) {
        AddUtf8(name.get(), "2.5.4.3", "Person \xC3\xA9\xE2\x82\xAC " + std::to_string(i));
        AddUtf8(name.get(), "2.5.4.10", "Org \xF0\x9F\x98\x80 " + std::to_string(i));
        AddUtf8(name.get(), "2.5.4.11", std::string(20, 'u'), -1);
    }
    WriteName(corpus, maker, "huge", name.get());
}

// Every key the renderer knows, an unknown OID and an absurd one.
void WriteAllKeys(CorpusWriter& corpus, const CertMaker& maker)
{
    const char* oids[] = {"2.5.4.3", "2.5.4.4", "2.5.4.5", "2.5.4.6", "2.5.4.7", "2.5.4.8", "2.5.4.9",
                          "2.5.4.10", "2.5.4.11", "2.5.4.12", "2.5.4.13", "2.5.4.17", "2.5.4.18", "2.5.4.20",
                          "2.5.4.24", "2.5.4.42", "2.5.4.43", "2.5.4.46", "1.2.840.113549.1.9.1",
                          "1.2.840.113549.1.9.2", "1.2.840.113549.1.9.8", "0.9.2342.19200300.100.1.25",
                          "1.3.6.1.4.1.99999.1", "2.999.18446744073709551616.340282366920938463463374607431768211456"};
    NamePtr name = NewName();
    for (const char* oid : oids)
        AddUtf8(name.get(), oid, "v");
    WriteName(corpus, maker, "keys", name.get());
}

// Values that need quoting, blanks at the ends, a NUL, and the separators
// the display name splits on.
void WriteQuoting(CorpusWriter& corpus, const CertMaker& maker)
{
    NamePtr name = NewName();
    AddUtf8(name.get(), "2.5.4.6", "DE");
    AddUtf8(name.get(), "2.5.4.10", "Acme, Inc.");
    AddUtf8(name.get(), "2.5.4.11", " padded ");
    AddUtf8(name.get(), "2.5.4.3", "say \"hi\" + =<>#;\n");
    AddUtf8(name.get(), "2.5.4.3", std::string("before\0after", 12));
    AddUtf8(name.get(), "2.5.4.3", "A", -1);
    AddUtf8(name.get(), "2.5.4.10", "O=CN=, CN=x");
    WriteName(corpus, maker, "quoting", name.get());
}

// String types other than UTF8String, and bytes they should not hold.
void WriteStringTypes(CorpusWriter& corpus, const CertMaker& maker)
{
    struct Case {
        const char* stem;
        int type;
        std::string value;
    };
    const Case cases[] = {
        {"bmp", V_ASN1_BMPSTRING, std::string("\0A\x20\xAC\xD8\x3D\xDE\x00", 8)},
        {"bmp-surrogate", V_ASN1_BMPSTRING, std::string("\xD8\x00\0A", 4)},
        {"universal", V_ASN1_UNIVERSALSTRING, std::string("\0\0\0A\0\x01\xF6\x00", 8)},
        {"universal-big", V_ASN1_UNIVERSALSTRING, std::string("\x7F\xFF\xFF\xFF", 4)},
        {"t61", V_ASN1_T61STRING, "caf\xE9 \xFF"},
        {"ia5-high", V_ASN1_IA5STRING, "\x80\xFF"},
        {"printable", V_ASN1_PRINTABLESTRING, "Printable Name"},
        {"utf8-bad", V_ASN1_UTF8STRING, "ok\xC3"},
        {"utf8-overlong", V_ASN1_UTF8STRING, "\xC0\xAF\xE0\x80\xAF"},
        {"utf8-five", V_ASN1_UTF8STRING, "\xF8\x88\x80\x80\x80"},
        {"bitstring", V_ASN1_BIT_STRING, std::string("\x00\x01\xFE\xFF", 4)},
        {"sequence", V_ASN1_SEQUENCE, std::string("\x30\x02\x05\x00", 4)},
        {"empty", V_ASN1_UTF8STRING, ""},
    };
    for (const Case& c : cases) {
        NamePtr name = NewName();
        AddUtf8(name.get(), "2.5.4.10", "Org");
        AddRaw(name.get(), "2.5.4.3", c.type, c.value);
        WriteName(corpus, maker, c.stem, name.get());
    }
}

// Times at the ends of the range, with offsets, fractions, leap seconds and
// nonsense.
void WriteTimes(CorpusWriter& corpus, const CertMaker& maker)
{
    const Validity validities[] = {
        {V_ASN1_GENERALIZEDTIME, "00000101000000Z", "99991231235959Z"},
        {V_ASN1_GENERALIZEDTIME, "20240101000000+0130", "99991231235959-2359"},
        {V_ASN1_GENERALIZEDTIME, "20240101000000.123Z", "20161231235960Z"},
        {V_ASN1_GENERALIZEDTIME, "20241301000000Z", "2024"},
        {V_ASN1_UTCTIME, "491231235959Z", "500101000000Z"},
        {V_ASN1_UTCTIME, "ZZZZ", ""},
    };
    NamePtr name = NewName();
    AddUtf8(name.get(), "2.5.4.10", "Org");
    AddUtf8(name.get(), "2.5.4.3", "Times");
    int i = 0;
    for (const Validity& v : validities)
        corpus.Write("time-" + std::to_string(i++), maker.Make(name.get(), v));
}

void WriteMadeUp(CorpusWriter& corpus)
{
    CertMaker maker;
    WriteCutNames(corpus, maker);
    WriteHugeSubject(corpus, maker);
    WriteAllKeys(corpus, maker);
    WriteQuoting(corpus, maker);
    WriteStringTypes(corpus, maker);
    WriteTimes(corpus, maker);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR PEM_FILE...\n", argv[0]);
        return 2;
    }
    try {
        std::filesystem::create_directories(argv[1]);
        CorpusWriter corpus(argv[1]);
        std::size_t real = WriteRealCertificates(corpus, argc - 2, argv + 2);
        if (real == 0) {
            std::fprintf(stderr, "make_corpus: no certificate in the PEM files given\n");
            return 1;
        }
        WriteMadeUp(corpus);
        std::printf("make_corpus: %zu inputs (%zu real certificates) in %s\n", corpus.Count(), real, argv[1]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_corpus: %s\n", e.what());
        return 1;
    }
    return 0;
}
