// libFuzzer target: the bytes a token and its vendor's module hand the
// program, through certificate decoding, subject rendering, display names
// and date strings. A broken promise of our code aborts, so the fuzzer
// reports it like a crash.
#include "inventory/CertTableRules.h"
#include "platform/CCertificate.h"
#include "platform/CX500NameRenderer.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <openssl/err.h>
#include <openssl/x509.h>

namespace {

// The buffer the inventory renders a subject into, terminator included.
constexpr std::size_t kSubjectBufferSize = 255;
// Raw input taken as a subject; far past any real subject, short of slow.
constexpr std::size_t kMaxRawSubject = 64 * 1024;
// The longest sequence a lenient UTF-8 decoder accepts.
constexpr std::size_t kMaxUtf8Sequence = 6;

[[noreturn]] void Fail(const char* what, std::string_view detail)
{
    std::fprintf(stderr, "fuzz_certificate: %s [%.*s]\n", what, static_cast<int>(detail.size()), detail.data());
    std::abort();
}

void Require(bool ok, const char* what, std::string_view detail = {})
{
    if (!ok)
        Fail(what, detail);
}

bool IsContinuation(char c)
{
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Bytes of the sequence this byte leads; 0 when it leads none.
std::size_t SequenceLength(char c)
{
    auto lead = static_cast<unsigned char>(c);
    if (lead < 0x80)
        return 1;
    if ((lead & 0xE0) == 0xC0)
        return 2;
    if ((lead & 0xF0) == 0xE0)
        return 3;
    if ((lead & 0xF8) == 0xF0)
        return 4;
    if ((lead & 0xFC) == 0xF8)
        return 5;
    if ((lead & 0xFE) == 0xFC)
        return 6;
    return 0;
}

// Whether the last sequence started but did not get all its bytes.
bool EndsInsideCharacter(std::string_view text)
{
    std::size_t trailing = 0;
    while (trailing < text.size() && trailing < kMaxUtf8Sequence && IsContinuation(text[text.size() - 1 - trailing]))
        ++trailing;
    if (trailing == text.size())
        return false;
    return SequenceLength(text[text.size() - 1 - trailing]) > trailing + 1;
}

// Every lead byte followed by exactly the continuation bytes it announces.
bool IsWellFormedUtf8(std::string_view text)
{
    for (std::size_t i = 0; i < text.size();) {
        std::size_t n = SequenceLength(text[i]);
        if (n == 0 || n > text.size() - i)
            return false;
        for (std::size_t k = 1; k < n; ++k) {
            if (!IsContinuation(text[i + k]))
                return false;
        }
        i += n;
    }
    return true;
}

bool IsFourteenDigits(std::string_view text)
{
    return text.size() == 14 && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The rendering as a C string reader sees it: up to the first NUL.
std::string FullRendering(const X509_NAME* name)
{
    std::string full = CX500NameRenderer::Render(name);
    full.resize(std::strlen(full.c_str()));
    return full;
}

// The cut text must be the longest prefix of the full rendering that fits
// and ends between characters.
void CheckCut(std::string_view text, std::string_view full, std::size_t capacity)
{
    Require(full.substr(0, text.size()) == text, "not a prefix of the full rendering", text);
    if (text.size() == full.size())
        return;
    Require(!IsContinuation(full[text.size()]), "cut inside a character of the full rendering", text);
    if (IsWellFormedUtf8(full))
        Require(text.size() + kMaxUtf8Sequence > capacity - 1, "cut more than one character short", text);
}

// Renders into a heap buffer of exactly `capacity` bytes, so an overrun
// meets the address sanitizer.
std::string CheckRendering(const X509_NAME* name, std::size_t capacity)
{
    std::vector<char> buffer(capacity, '\x7F');
    std::size_t written = CX500NameRenderer::CertNameToStr(name, buffer.data(), capacity);
    const void* nul = std::memchr(buffer.data(), '\0', capacity);
    Require(nul != nullptr, "rendering not NUL-terminated");
    std::string_view text(buffer.data(), static_cast<std::size_t>(static_cast<const char*>(nul) - buffer.data()));
    Require(written == text.size() + 1, "returned count disagrees with the terminator", text);
    Require(!EndsInsideCharacter(text), "rendering ends inside a UTF-8 character", text);
    std::string full = FullRendering(name);
    CheckCut(text, full, capacity);
    if (IsWellFormedUtf8(full))
        Require(IsWellFormedUtf8(text), "cut broke UTF-8", text);
    return std::string(text);
}

// A display name only ever takes values out of the subject.
std::string CheckDisplayName(const std::string& subject)
{
    std::string name = MakeDisplayName(subject);
    Require(name.size() <= subject.size(), "display name longer than its subject", name);
    if (IsWellFormedUtf8(subject))
        Require(IsWellFormedUtf8(name), "display name broke UTF-8", name);
    return name;
}

// A rendered subject starts with a key, never a blank: its first field,
// which is all there is without a comma, never counts.
void CheckRenderedDisplayName(const std::string& subject)
{
    std::string name = CheckDisplayName(subject);
    if (subject.find(',') == std::string::npos)
        Require(name.empty(), "display name from the first field", name);
}

bool AllZero(const SYSTEMTIME& t)
{
    return t.wYear == 0 && t.wMonth == 0 && t.wDay == 0 && t.wHour == 0 && t.wMinute == 0 && t.wSecond == 0;
}

bool InCalendarRange(const SYSTEMTIME& t)
{
    return t.wMonth >= 1 && t.wMonth <= 12 && t.wDay >= 1 && t.wDay <= 31 && t.wHour <= 23 && t.wMinute <= 59 &&
           t.wSecond <= 59;
}

void CheckDate(const SYSTEMTIME& time)
{
    std::string date = MakeDateString(time);
    Require(IsFourteenDigits(date), "date string is not 14 digits", date);
    Require(AllZero(time) || InCalendarRange(time), "calendar fields out of range", date);
}

void CheckName(const X509_NAME* name, std::size_t smallCapacity)
{
    std::string subject = CheckRendering(name, kSubjectBufferSize);
    Require(subject.size() <= kSubjectBufferSize - 1, "rendering longer than 254 bytes", subject);
    CheckRenderedDisplayName(subject);
    CheckRendering(name, smallCapacity);
}

void FuzzCertificate(const std::uint8_t* data, std::size_t size, std::size_t smallCapacity)
{
    std::unique_ptr<CCertificate> cert = CCertificate::Decode(data, size);
    if (!cert)
        return;
    CheckName(cert->Subject(), smallCapacity);
    CheckDate(cert->NotBefore());
    CheckDate(cert->NotAfter());
    // Read from the key field as it came: only a crash or a sanitizer report fails it.
    static_cast<void>(cert->PublicKeyType());
    static_cast<void>(cert->Use());
    CheckRendering(cert->Issuer(), kSubjectBufferSize);
    static_cast<void>(cert->PublicKeyInfoDer());
    static_cast<void>(cert->PublicKeyBits());
    static_cast<void>(cert->RsaModulus());
    static_cast<void>(cert->RsaExponent());
}

struct NameFree {
    void operator()(X509_NAME* name) const { X509_NAME_free(name); }
};

void FuzzBareName(const std::uint8_t* data, std::size_t size, std::size_t smallCapacity)
{
    if (size == 0 || size > static_cast<std::size_t>(LONG_MAX))
        return;
    const unsigned char* p = data;
    std::unique_ptr<X509_NAME, NameFree> name(d2i_X509_NAME(nullptr, &p, static_cast<long>(size)));
    if (name)
        CheckName(name.get(), smallCapacity);
}

void FuzzRawSubject(const std::uint8_t* data, std::size_t size)
{
    std::string subject(reinterpret_cast<const char*>(data), std::min(size, kMaxRawSubject));
    CheckDisplayName(subject);
}

// The checks themselves must be able to fail, or the fuzzer finds nothing.
void SelfTest()
{
    Require(EndsInsideCharacter("ab\xC3"), "self-test: lone lead byte");
    Require(EndsInsideCharacter("a\xF0\x9F\x98"), "self-test: three of four bytes");
    Require(!EndsInsideCharacter("a\xE2\x82\xAC"), "self-test: whole character");
    Require(!EndsInsideCharacter(""), "self-test: empty text");
    Require(IsWellFormedUtf8("a\xC3\xA9"), "self-test: well-formed");
    Require(!IsWellFormedUtf8("a\x80"), "self-test: stray continuation");
    Require(!IsWellFormedUtf8("\xC3z"), "self-test: missing continuation");
    Require(IsFourteenDigits("20240229235959"), "self-test: date");
    Require(!IsFourteenDigits("2024022923595"), "self-test: short date");
    Require(!IsFourteenDigits("2024022923595x"), "self-test: letter in date");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/)
{
    SelfTest();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Short buffers too, so cuts land everywhere in a rendering.
    std::size_t smallCapacity = 1 + size % 64;
    FuzzCertificate(data, size, smallCapacity);
    FuzzBareName(data, size, smallCapacity);
    FuzzRawSubject(data, size);
    ERR_clear_error();
    return 0;
}
